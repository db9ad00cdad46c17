// Connecting through SOCKS proxies: a scripted proxy that lies or fails, and the real ones.
#include "ChildProcess.h"
#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "TempDir.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using TestSupport::Raised;

namespace {

const char* const kUser = "brisal";
const char* const kPassword = "secret";

std::string Bytes(std::initializer_list<int> ABytes) {
    return std::string(ABytes.begin(), ABytes.end());
}

// The proxy: a loopback server playing a byte script, or a real one.
enum TPeer { kScripted, kDante, kDanteLogin, kMicrosocks, kMicrosocksLogin };

// Dante or microsocks on a free loopback port, listening once this returns. Dante checks user
// names against the system's password files, so it runs in a mount namespace of its own where
// the test's passwd and shadow stand over the real ones (this needs root, as the test machines
// run). Dante changes to "nobody" itself; microsocks is started as "nobody".
struct Proxy {
    TPeer Peer;
    TempDir Directory;
    uint16_t Port = 0;
    std::unique_ptr<ChildProcess> Process;

    explicit Proxy(TPeer APeer) : Peer(APeer) {
        const bool dante = APeer == kDante || APeer == kDanteLogin,
                   login = APeer == kDanteLogin || APeer == kMicrosocksLogin;
        const std::string d = Directory.Path().string(), user = kUser;
        Directory.WriteFile("passwd",
                            "root:x:0:0::/root:/bin/sh\nnobody:x:65534:65534::/:/bin/false\n" +
                                user + ":x:4242:4242::/:/bin/false\n");
        // openssl passwd -6 -salt brisalsalt secret
        Directory.WriteFile("shadow",
                            user + ":$6$brisalsalt$HoNk6N.Z6RyaeVrYjpTuKeBwngC2wkkUcG/zpeuhwcj9HH2"
                                   "YOMSIf8ABpBGLb1vNqmBijq.YiXV4rebUkoPEa.:19000::::::\n");
        const std::string danteCommand =
            "cd " + d +
            " && exec /usr/bin/unshare --mount --propagation private /bin/sh -c '"
            "mount --bind passwd /etc/passwd && mount --bind shadow /etc/shadow && "
            "exec /usr/sbin/danted -N 1 -f danted.conf -p " +
            d + "/pid'";
        const std::string port = std::to_string(Port = FreeLoopbackPort());
        Directory.WriteFile(
            "danted.conf",
            "logoutput: stderr\ninternal: 127.0.0.1 port = " + port +
                "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: " +
                (login ? "username" : "none") +
                "\nuser.privileged: nobody\nuser.unprivileged: nobody\n"
                "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                "socks pass {\n from: 127.0.0.0/8 to: 127.0.0.0/8\n command: connect\n}\n");
        const std::string command = dante ? danteCommand
                                          : "exec /usr/bin/microsocks -i 127.0.0.1 -p " + port +
                                                (login ? " -u " + user + " -P " + kPassword : "");
        Process = std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", command},
                                                 Directory.Path() / "log", !dante);
        if (!TestSupport::WaitUntil(
                [&] { return !Process->Running() || RawSocket::Connected(Port).Valid(); }) ||
            !Process->Running()) {
            throw std::runtime_error("no SOCKS proxy listening (scripts/deps.sh installs them):\n" +
                                     Process->Log());
        }
    }
};

struct Settings {
    TSocksVersion Version;
    TSocksAuthentication Authentication;
    std::string Username, Password, Host; // Host: the server's, as the proxy is asked for it
};

} // namespace

// Each version and method through real proxies to a server and back. Each way a scripted proxy
// can refuse, lie or fail gives its own error and a closed socket, never a hang (it closes after
// its last answer, or goes silent if that is empty). A reply is read to its last byte and no
// further. Settings a request cannot carry are refused before dialling (nothing listens there).
TEST(Socks, EachVersionAndMethodConnectsAndEachFaultIsReported) {
    const std::string port = Bytes({0x1A, 0x0B}), hello = "hello\r\n", long256(256, 'x');
    const std::string v4request = Bytes({4, 1}) + port + Bytes({127, 0, 0, 1, 0});
    const std::string v4a =
        Bytes({4, 1}) + port + Bytes({0, 0, 0, 1}) + "bob" + '\0' + "irc.t" + '\0';
    const std::string granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0}), none = Bytes({5, 1, 0});
    const std::string connect = Bytes({5, 1, 0, 3, 5}) + "irc.t" + port;
    const std::string ok = "(nothing raised)", silent = "Socks server did not respond.",
                      bad = "Invalid reply from socks server: ";
    using Script = std::vector<std::pair<std::string, std::string>>; // {request, the answer}
    const auto answered = [&](const std::string& AReply) {
        return Script{{none, Bytes({5, 0})}, {connect, AReply}};
    };
    const TSocksAuthentication noAuth = saNoAuthentication, auth = saUsernamePassword;
    const Settings v4{svSocks4, noAuth, "", "", "127.0.0.1"}, v5{svSocks5, noAuth, "", "", "irc.t"},
        real5{svSocks5, noAuth, "", "", "127.0.0.1"},
        realLogin{svSocks5, auth, kUser, kPassword, "127.0.0.1"};
    const struct {
        const char* why;
        Settings settings;
        Script script;
        std::string expected;
        TPeer peer = kScripted;
    } cases[] = {
        // clang-format off
        {"4A: host by name", {svSocks4A, noAuth, "bob", "", "irc.t"}, {{v4a, granted + hello}}, ok},
        {"SOCKS 4 refusal", v4, {{v4request, Bytes({0, 92, 0, 0, 0, 0, 0, 0})}},
         "Request rejected because SOCKS server cannot connect."},
        {"SOCKS 4 reply cut short", v4, {{v4request, granted.substr(0, 5)}}, silent},
        {"bound address named", v5, answered(Bytes({5, 0, 0, 3, 7}) + "bound.x" + port + hello),
         ok},
        {"IPv6 bound address, unsent long user", {svSocks5, noAuth, long256, "", "irc.t"},
         answered(Bytes({5, 0, 0, 4}) + std::string(16, 1) + port + hello), ok},
        {"no acceptable method", v5, {{none, Bytes({5, 0xFF})}},
         "Invalid socks authentication method."},
        {"method reply in version 4", v5, {{none, Bytes({4, 0})}},
         bad + "version 4 in the method selection reply, 5 expected."},
        {"method reply too long", v5, {{none, Bytes({5, 0, 0})}},
         bad + "more bytes than the method selection reply holds."},
        {"unknown address type", v5, answered(Bytes({5, 0, 0, 2, 1, 1, 1, 1, 0, 80})),
         bad + "address type 2 in the connect reply."},
        {"connect reply never comes", v5, answered(""), silent},
        {"refused", v5, answered(Bytes({5, 5, 0, 1, 10})), "Connection refused."},
        {"user name too long", {svSocks5, auth, long256, "pw", "irc.t"}, {},
         "Invalid socks request: user name of 256 bytes, at most 255 allowed."},
        {"Dante, SOCKS 4", v4, {}, ok, kDante},
        {"Dante, SOCKS 5", real5, {}, ok, kDante},
        {"microsocks, SOCKS 5", real5, {}, ok, kMicrosocks},
        {"microsocks, SOCKS 5 log-in", realLogin, {}, ok, kMicrosocksLogin},
        {"Dante, SOCKS 5 log-in", realLogin, {}, ok, kDanteLogin},
        {"Dante, SOCKS 5 wrong password", {svSocks5, auth, kUser, "wrong", "127.0.0.1"}, {},
         "Authentication error to socks server.", kDanteLogin},
        // clang-format on
    };
    std::unique_ptr<Proxy> real;
    std::string withoutProxy; // the rows that need a real proxy where none can be started
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const bool scripted = c.peer == kScripted;
        if (!scripted && ChildProcess::Unavailable) {
            withoutProxy += std::string("\n  ") + c.why;
            continue;
        }
        if (!scripted && (!real || real->Peer != c.peer)) {
            real.reset(); // one at a time
            real = std::make_unique<Proxy>(c.peer);
        }
        LoopbackServer server; // also the proxy, when scripted
        std::string sent;
        for (const auto& [request, answer] : c.script) {
            server.WaitFor(request).Send(answer);
            sent += request;
        }
        if (!scripted) {
            server.Send(hello);
        } else if (!c.script.empty() && !c.script.back().second.empty()) {
            server.Close();
        }
        TIdIOHandlerSocket handler;
        TIdTCPClient client;
        client.SetReadTimeout(scripted ? 300 : int32_t(TestSupport::HangLimit.count()));
        client.SetIOHandler(&handler);
        TIdSocksInfo* socks = handler.SocksInfo();
        socks->SetVersion(c.settings.Version);
        socks->SetAuthentication(c.settings.Authentication);
        socks->SetUsername(c.settings.Username);
        socks->SetPassword(c.settings.Password);
        socks->SetHost("127.0.0.1");
        socks->SetPort(!scripted          ? real->Port
                       : c.script.empty() ? FreeLoopbackPort()
                                          : server.Port());
        client.SetHost(c.settings.Host);
        client.SetPort(scripted ? 6667 : server.Port());
        EXPECT_EQ(Raised<EIdException>([&] { client.Connect(); }), c.expected)
            << (real ? real->Process->Log() : "");
        if (c.expected == ok) {
            EXPECT_EQ(client.ReadLn(), "hello");
            client.WriteLn("bye");
            client.Disconnect();
            sent += "bye\r\n";
        }
        EXPECT_FALSE(client.Connected());
        if (c.expected == ok || (scripted && !c.script.empty())) {
            EXPECT_TRUE(server.WaitForClientClose());
            EXPECT_EQ(server.Received(), sent);
        }
    }
    TIdSocksInfo settings; // settings that live elsewhere forget a handler that goes first
    std::make_unique<TIdIOHandlerSocket>()->SetSocksInfo(&settings);
    EXPECT_EQ(settings.IOHandler(), nullptr);
    if (!withoutProxy.empty()) {
        GTEST_SKIP() << "the scripted rows ran; these need dante or microsocks: "
                     << ChildProcess::Unavailable << withoutProxy;
    }
}
