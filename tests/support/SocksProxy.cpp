#include "SocksProxy.h"

#include "RawSocket.h"
#include "Waiting.h"

#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace {

const char* const kDanteProgram = "/usr/sbin/danted";
const char* const kMicrosocksProgram = "/usr/bin/microsocks";
const char* const kUnshare = "/usr/bin/unshare";
// SHA-512 crypt of SocksProxy::Password ("openssl passwd -6 -salt brisalsalt secret").
const char* const kPasswordHash = "$6$brisalsalt$HoNk6N.Z6RyaeVrYjpTuKeBwngC2wkkUcG/"
                                  "zpeuhwcj9HH2YOMSIf8ABpBGLb1vNqmBijq.YiXV4rebUkoPEa.";

void Require(const char* AProgram) {
    if (access(AProgram, X_OK) != 0) {
        throw std::runtime_error(std::string(AProgram) + " is missing: run scripts/deps.sh");
    }
}

} // namespace

std::vector<std::string> SocksProxy::DanteCommand(bool AUserPassword) {
    const std::string directory = FDirectory.Path().string();
    std::ostringstream text;
    text << "logoutput: stderr\ninternal: 127.0.0.1 port = " << FPort
         << "\nexternal: 127.0.0.1\nclientmethod: none\n"
         << "socksmethod: " << (AUserPassword ? "username" : "none") << "\n"
         << "user.privileged: nobody\nuser.unprivileged: nobody\n"
         << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
         << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n"
         << "  protocol: tcp\n}\n";
    FDirectory.WriteFile("danted.conf", text.str());
    std::vector<std::string> dante{kDanteProgram, "-f", directory + "/danted.conf", "-N",
                                   "1",           "-p", directory + "/danted.pid"};
    if (!AUserPassword) {
        return dante;
    }
    if (getuid() != 0) {
        throw std::runtime_error("dante with user names needs root (a mount namespace for its "
                                 "password files)");
    }
    Require(kUnshare);
    FDirectory.WriteFile("passwd", "root:x:0:0:root:/root:/bin/sh\n"
                                   "nobody:x:65534:65534:nobody:/nonexistent:/bin/false\n" +
                                       std::string(User) +
                                       ":x:4242:4242::/nonexistent:/bin/false\n");
    FDirectory.WriteFile("shadow", "root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\n" +
                                       std::string(User) + ":" + kPasswordHash +
                                       ":19000:0:99999:7:::\n");
    std::string script = "mount --bind " + directory + "/passwd /etc/passwd && mount --bind " +
                         directory + "/shadow /etc/shadow && exec";
    for (const std::string& argument : dante) {
        script += " '" + argument + "'";
    }
    return {kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script};
}

SocksProxy::SocksProxy(TKind AKind, bool AUserPassword) {
    Require(AKind == kDante ? kDanteProgram : kMicrosocksProgram);
    std::string failures;
    // A port free a moment ago can be taken before the proxy binds it; the proxy then ends, and
    // another port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        FPort = FreeLoopbackPort();
        std::vector<std::string> command;
        if (AKind == kDante) {
            command = DanteCommand(AUserPassword);
        } else {
            command = {kMicrosocksProgram, "-i", Host(), "-p", std::to_string(FPort)};
            if (AUserPassword) {
                command.insert(command.end(), {"-u", User, "-P", Password});
            }
        }
        // Dante changes to "nobody" by itself (its configuration says so); microsocks is
        // started as "nobody" when the tests run as root.
        FProcess = std::make_unique<ChildProcess>(command, FDirectory.Path() / "proxy.log",
                                                  AKind == kMicrosocks);
        if (TestSupport::WaitUntil(
                [&] { return !FProcess->Running() || RawSocket::Connected(FPort).Valid(); }) &&
            FProcess->Running()) {
            return;
        }
        failures += FProcess->Log();
        FProcess->Stop();
    }
    FProcess.reset();
    throw std::runtime_error("the SOCKS proxy did not start listening:\n" + failures);
}
