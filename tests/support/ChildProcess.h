// A program a test starts (a real IRC server, a second IRC client) and never leaves behind:
// the destructor ends and reaps it, and should the test program die the kernel kills it
// (PR_SET_PDEATHSIG, which follows the starting thread: start children from the test's own).
// Its output goes to a log file for failure messages.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    // AArgv[0] is a full path. With ADropRoot, a test run as root starts it as "nobody":
    // daemons that refuse root would switch user themselves, which clears PR_SET_PDEATHSIG.
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
