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
    // Why no program can be started here, or nullptr. Wine's CreateProcess does start a Linux
    // program, but hands back no process handle: the Windows build cannot wait for, signal or
    // stop what it started, nor make sure it dies with the test, so it starts none. Tests
    // that need a real peer skip with this reason; the constructor throws it.
#ifdef _WIN32
    static constexpr const char* Unavailable =
        "the real peers (ngircd, ii, dante, microsocks) are Linux programs; the Windows build "
        "under wine can start one but gets no handle to wait for, signal or stop it";
#else
    static constexpr const char* Unavailable = nullptr;
#endif

    // AArgv[0] is a full path. With ADropRoot, a test run as root starts it as "nobody":
    // daemons that refuse root would switch user themselves, which clears PR_SET_PDEATHSIG.
    ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                 bool ADropRoot = false);
    ~ChildProcess() {
        Stop();
    }
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
