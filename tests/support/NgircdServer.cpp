#include "NgircdServer.h"

#include "RawSocket.h"
#include "Waiting.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool Accepts(int APort) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return socket.Valid() &&
           ::connect(socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

} // namespace

NgircdServer::NgircdServer() : FPort(FreeLoopbackPort()) {
    const std::string config = (FDir.Path() / "ngircd.conf").string();
    // Nicks up to 30 characters: the window's own fallback nick is 11.
    FDir.WriteFile("ngircd.conf", "[Global]\n"
                                  "Name = irc.brisal.test\n"
                                  "Info = Brisal test server\n"
                                  "Listen = 127.0.0.1\n"
                                  "Ports = " +
                                      std::to_string(FPort) +
                                      "\n"
                                      "[Limits]\n"
                                      "MaxNickLength = 30\n"
                                      "[Options]\n"
                                      "DNS = no\n"
                                      "Ident = no\n"
                                      "PAM = no\n");
    const std::string log = (FDir.Path() / "ngircd.log").string();
    FPid = fork();
    if (FPid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execlp("ngircd", "ngircd", "-n", "-f", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (FPid < 0) {
        FProblem = "fork failed";
        return;
    }
    FReady = TestSupport::WaitUntil([this] {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return true; // ended: it will not come up
        }
        return Accepts(FPort);
    });
    if (!Running()) {
        FProblem = "ngircd did not come up (installed? scripts/deps.sh installs it): " +
                   FDir.ReadFile("ngircd.log");
    }
}

NgircdServer::~NgircdServer() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        int status = 0;
        waitpid(FPid, &status, 0);
    }
}
