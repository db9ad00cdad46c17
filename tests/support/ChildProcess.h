// A program a test starts (a real IRC server, a second IRC client) and never leaves behind.
// Its output goes to a log file for failure messages. The destructor (so a failed assertion
// too) sends SIGTERM, then SIGKILL after a grace period, and reaps it. Should the test program
// die, the kernel kills the child (PR_SET_PDEATHSIG); that follows the thread that started the
// child, so start children from the test's own thread.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    // Starts AArgv[0] (a full path). With ADropRoot, a test run as root (CI containers) starts
    // it as "nobody": daemons that refuse root would switch user themselves, which clears the
    // kill-on-parent-exit setting. Throws std::runtime_error when it cannot be started.
    ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                 bool ADropRoot = false);
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();           // false once it has ended (and been reaped)
    void Signal(int ASignal); // SIGSTOP and SIGCONT freeze and resume it
    void Stop();
    std::string Log() const;

private:
    pid_t FPid = -1;
    std::filesystem::path FLogFile;
};
