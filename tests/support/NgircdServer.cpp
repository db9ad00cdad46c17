#include "NgircdServer.h"

#include "RawSocket.h"
#include "Waiting.h"

#include <csignal>
#include <sstream>
#include <stdexcept>

namespace {
const char* const kProgram = "/usr/sbin/ngircd";
} // namespace

NgircdServer::NgircdServer(NgircdConfig AConfig) : FConfig(AConfig) {
    namespace fs = std::filesystem;
    if (access(kProgram, X_OK) != 0) {
        throw std::runtime_error(std::string(kProgram) + " is missing: run scripts/deps.sh");
    }
    // Run as root, the server runs as "nobody", which must read its configuration and MOTD.
    fs::permissions(FDirectory.Path(),
                    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::add);
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
    const bool tls = !FConfig.TLS.Cert.empty();
    if (tls && APort != FPort) { // a restart keeps both ports
        do {
            FTLSPort = FreeLoopbackPort();
        } while (FTLSPort == APort);
    }
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
    if (tls) {
        text << "[SSL]\n  CertFile = " << FConfig.TLS.Cert << "\n  KeyFile = " << FConfig.TLS.Key
             << "\n  Ports = " << FTLSPort << "\n";
    }
    FDirectory.WriteFile("ngircd.conf", text.str());
    FProcess = std::make_unique<ChildProcess>(
        std::vector<std::string>{kProgram, "--nodaemon", "--config", directory + "/ngircd.conf"},
        FDirectory.Path() / "ngircd.log", true);
    return TestSupport::WaitUntil([&] {
               return !FProcess->Running() || (RawSocket::Connected(FPort).Valid() &&
                                               (!tls || RawSocket::Connected(FTLSPort).Valid()));
           }) &&
           FProcess->Running();
}
