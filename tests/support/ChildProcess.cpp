#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

ChildProcess::ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                           bool ADropRoot)
    : FLogFile(ALogFile) {
    // Between fork and exec a threaded program may make only async-signal-safe calls.
    std::vector<char*> argv;
    for (std::string& argument : AArgv) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const bool dropRoot = ADropRoot && getuid() == 0;
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    const int log = open(ALogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    FPid = log < 0 || input < 0 ? -1 : fork();
    if (FPid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(input, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0 ||
            (dropRoot && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) ||
            // After the change of user, which would clear it.
            prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    const std::string error = std::strerror(errno);
    close(log);
    close(input);
    if (FPid < 0) {
        throw std::runtime_error("cannot start " + AArgv[0] + ": " + error);
    }
}

bool ChildProcess::Running() {
    if (FPid > 0 && waitpid(FPid, nullptr, WNOHANG) == FPid) {
        FPid = -1;
    }
    return FPid > 0;
}

void ChildProcess::Signal(int ASignal) {
    if (FPid > 0) {
        kill(FPid, ASignal);
    }
}

void ChildProcess::Stop() {
    if (!Running()) {
        return;
    }
    kill(FPid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (Running()) {
        kill(FPid, SIGKILL);
        while (waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
    }
}

std::string ChildProcess::Log() const {
    std::ifstream in(FLogFile, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
