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

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("child process: " + what + ": " + std::strerror(errno));
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                           bool ADropRoot)
    : FLogFile(ALogFile) {
    if (AArgv.empty()) {
        throw std::invalid_argument("child process: no program");
    }
    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed in a threaded program.
    std::vector<char*> argv;
    for (std::string& argument : AArgv) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const bool dropRoot = ADropRoot && getuid() == 0;
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* nobody = getpwnam("nobody"); nobody != nullptr) {
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    const int log = open(ALogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || input < 0) {
        Fail("cannot open " + ALogFile.string());
    }
    const pid_t parent = getpid();

    FPid = fork();
    if (FPid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(input, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) {
            _exit(126);
        }
        if (dropRoot && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
            _exit(126);
        }
        // After the change of user, which would clear it.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    const int forkError = errno;
    close(log);
    close(input);
    if (FPid < 0) {
        errno = forkError;
        Fail("cannot start " + AArgv[0]);
    }
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Running() {
    if (FPid <= 0) {
        return false;
    }
    if (waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

int ChildProcess::Stop(std::chrono::milliseconds AGrace) {
    if (!Running()) {
        return FStatus;
    }
    kill(FPid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + AGrace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Running()) {
            return FStatus;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(FPid, SIGKILL);
    while (waitpid(FPid, &FStatus, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
    return FStatus;
}

std::string ChildProcess::Log() const {
    std::ifstream in(FLogFile, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
