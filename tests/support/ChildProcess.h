// A program a test starts (a real IRC server, a second IRC client) and never leaves behind.
//
// The program's standard output and error go to a log file, so a failing test can show what
// the program said. Stop (also run by the destructor, so a failed assertion still stops it)
// sends SIGTERM, waits a bounded time, then sends SIGKILL, and reaps the process either way.
// Should the test program itself die (a crash, a kill by the test runner's time-out), the
// kernel kills the child too (PR_SET_PDEATHSIG): that signal follows the thread that started
// the child, so start children from the test's own thread, not from a thread that ends first.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    // Starts AArgv[0] (a full path) with the arguments that follow. With ADropRoot, a test run
    // as root (CI containers) starts the program as "nobody" instead: daemons that refuse root
    // switch user themselves, and a change of user would clear the kernel's kill-on-parent-exit
    // setting. Throws std::runtime_error when the program cannot be started.
    ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                 bool ADropRoot = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    // False once the program has ended (it is reaped then).
    bool Running();
    // SIGTERM, up to AGrace for the program to end, then SIGKILL; always reaped. Returns the
    // wait status (0 when it had already been reaped).
    int Stop(std::chrono::milliseconds AGrace = std::chrono::milliseconds(5000));
    std::string Log() const; // what the program has written so far

private:
    pid_t FPid = -1;
    int FStatus = 0;
    std::filesystem::path FLogFile;
};
