#include "NgircdServer.h"

#include "RawSocket.h"
#include "Waiting.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kProgram = "/usr/sbin/ngircd";

bool Accepts(uint16_t APort) {
    RawSocket probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(APort);
    return probe.Valid() &&
           ::connect(probe.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

} // namespace

NgircdServer::NgircdServer(NgircdConfig AConfig) : FConfig(AConfig) {
    namespace fs = std::filesystem;
    if (access(kProgram, X_OK) != 0) {
        throw std::runtime_error(std::string(kProgram) + " is missing: run scripts/deps.sh");
    }
    // Run as root, the server runs as "nobody", which must read its configuration and MOTD.
    fs::permissions(FDirectory.Path(), fs::perms::owner_all | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read |
                                           fs::perms::others_exec);
    fs::create_directory(FDirectory.Path() / "conf.d");
    FDirectory.WriteFile("motd", "Brisal test server\n");
    // A port free a moment ago can be taken before the server binds it; the server then ends,
    // and another port is tried.
    std::string failures;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (StartOn(FreeLoopbackPort())) {
            return;
        }
        failures += FProcess->Log();
        FProcess->Stop();
    }
    FProcess.reset();
    throw std::runtime_error("ngircd did not start listening:\n" + failures);
}

void NgircdServer::Restart() {
    FProcess.reset();
    if (!StartOn(FPort)) {
        throw std::runtime_error("ngircd did not listen again:\n" + FProcess->Log());
    }
}

void NgircdServer::Freeze(bool AFrozen) {
    if (FProcess) {
        FProcess->Signal(AFrozen ? SIGSTOP : SIGCONT);
    }
}

bool NgircdServer::StartOn(uint16_t APort) {
    FPort = APort;
    const std::string directory = FDirectory.Path().string();
    std::ostringstream text;
    text << "[Global]\n  Name = irc.brisal.test\n  Info = Brisal test server\n"
         << "  AdminInfo1 = Brisal tests\n  AdminInfo2 = 127.0.0.1\n"
         << "  AdminEMail = tests@brisal.test\n  Listen = " << Host() << "\n"
         << "  Ports = " << FPort << "\n  MotdFile = " << directory << "/motd\n"
         << "[Limits]\n  MaxConnectionsIP = 0\n  MaxNickLength = 9\n"
         << "  PingTimeout = " << FConfig.PingTimeout << "\n  PongTimeout = 20\n"
         << (FConfig.FloodPenalty ? "" : "  MaxPenaltyTime = 0\n")
         // The host's own drop-in directory must not change the test's server.
         << "[Options]\n  IncludeDir = " << directory << "/conf.d\n"
         << "  DNS = no\n  Ident = no\n  PAM = no\n";
    FDirectory.WriteFile("ngircd.conf", text.str());
    FProcess = std::make_unique<ChildProcess>(
        std::vector<std::string>{kProgram, "--nodaemon", "--config", directory + "/ngircd.conf"},
        FDirectory.Path() / "ngircd.log", true);
    return TestSupport::WaitUntil([&] { return !FProcess->Running() || Accepts(FPort); }) &&
           FProcess->Running();
}
