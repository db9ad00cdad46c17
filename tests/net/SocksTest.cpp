// Connecting through SOCKS proxies: a scripted proxy that lies or fails, and the real ones.
#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "SocksProxy.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

using TestSupport::Raised;

namespace {

struct Settings {
    TSocksVersion Version;
    TSocksAuthentication Authentication;
    std::string Username, Password, Host; // Host: the server's, as the proxy is asked for it
};

// Connects AClient to ASettings.Host:APort through the proxy at AProxyPort: the error, or ""
// once connected.
std::string ConnectThrough(TIdTCPClient& AClient, const Settings& AS, int AProxyPort, int APort) {
    auto* handler = new TIdIOHandlerSocket();
    AClient.SetIOHandler(handler);
    AClient.SetOwnsIOHandler(true);
    TIdSocksInfo* socks = handler->SocksInfo();
    socks->SetVersion(AS.Version);
    socks->SetAuthentication(AS.Authentication);
    socks->SetUsername(AS.Username);
    socks->SetPassword(AS.Password);
    socks->SetHost("127.0.0.1");
    socks->SetPort(AProxyPort);
    AClient.SetHost(AS.Host);
    AClient.SetPort(APort);
    const std::string error = Raised<EIdSocksError>([&] { AClient.Connect(); });
    return error == "(nothing raised)" ? "" : error;
}

std::string Bytes(std::initializer_list<int> ABytes) {
    return std::string(ABytes.begin(), ABytes.end());
}

} // namespace

// Every way a proxy can refuse, lie or fail ends the connect with its own error and a closed
// socket, never a hang: the silent rows end by the read time-out. A reply is read to its last
// byte and no further, so the server's first line (hello) follows intact. Settings a request
// cannot carry are refused before the proxy is even dialled.
TEST(SocksHostileProxy, EachFaultGivesItsErrorAndClosesTheSocket) {
    const std::string port = Bytes({0x1A, 0x0B}), hello = "hello\r\n", long256(256, 'x');
    const std::string v4 = Bytes({4, 1}) + port + Bytes({127, 0, 0, 1, 0});
    const std::string v4a =
        Bytes({4, 1}) + port + Bytes({0, 0, 0, 1}) + "bob" + '\0' + "irc.t" + '\0';
    const std::string granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0}), none = Bytes({5, 1, 0});
    const std::string offerLogin = Bytes({5, 1, 2}),
                      login = Bytes({1, 3}) + "bob" + Bytes({2}) + "pw";
    const std::string connect = Bytes({5, 1, 0, 3, 5}) + "irc.t" + port, chose = Bytes({5, 0});
    const std::string silent = "Socks server did not respond.",
                      bad = "Invalid reply from socks server: ";
    const std::string tooLong = "Invalid socks request: ";
    const Settings v4none{svSocks4, saNoAuthentication, "", "", "127.0.0.1"};
    const Settings v4a_bob{svSocks4A, saNoAuthentication, "bob", "", "irc.t"};
    const Settings v5{svSocks5, saNoAuthentication, "", "", "irc.t"};
    const Settings v5login{svSocks5, saUsernamePassword, "bob", "pw", "irc.t"};
    // clang-format off: one row a line (two for a long one)
    const struct {
        const char* why;
        Settings settings;
        std::vector<std::pair<std::string, std::string>> script; // {request, the proxy's answer}
        bool close; // the proxy closes after its script, else it goes silent
        std::string expected;
    } cases[] = {
        {"SOCKS 4 granted", v4none, {{v4, granted + hello}}, false, ""},
        {"SOCKS 4A names the host", v4a_bob, {{v4a, granted + hello}}, false, ""},
        {"SOCKS 4 reply cut short", v4none, {{v4, granted.substr(0, 5)}}, true, silent},
        {"SOCKS 4 reply never comes", v4none, {{v4, ""}}, false, silent},
        {"SOCKS 4 reply in version 4",
         v4none,
         {{v4, Bytes({4, 90, 0, 0, 0, 0, 0, 0})}},
         false,
         bad + "version 4 in the connect reply, 0 expected."},
        {"SOCKS 4 refusal",
         v4none,
         {{v4, Bytes({0, 92, 0, 0, 0, 0, 0, 0})}},
         true,
         "Request rejected because SOCKS server cannot connect."},
        {"SOCKS 5, bound address named",
         v5,
         {{none, chose}, {connect, Bytes({5, 0, 0, 3, 7}) + "proxy.x" + port + hello}},
         false,
         ""},
        {"SOCKS 5 log-in, bound address IPv6",
         v5login,
         {{offerLogin, Bytes({5, 2})},
          {login, Bytes({1, 0})},
          {connect, Bytes({5, 0, 0, 4}) + std::string(16, '\1') + port + hello}},
         false,
         ""},
        {"closed after the method selection", v5, {{none, ""}}, true, silent},
        {"no acceptable method",
         v5,
         {{none, Bytes({5, 0xFF})}},
         false,
         "Invalid socks authentication method."},
        {"method reply in version 4",
         v5,
         {{none, Bytes({4, 0})}},
         false,
         bad + "version 4 in the method selection reply, 5 expected."},
        {"method reply too long",
         v5,
         {{none, Bytes({5, 0, 0})}},
         false,
         bad + "more bytes than the method selection reply holds."},
        {"log-in refused",
         v5login,
         {{offerLogin, Bytes({5, 2})}, {login, Bytes({1, 1})}},
         false,
         "Authentication error to socks server."},
        {"unknown address type",
         v5,
         {{none, chose}, {connect, Bytes({5, 0, 0, 2, 1, 1, 1, 1, 0, 80})}},
         false,
         bad + "address type 2 in the connect reply."},
        {"closed in the bound name",
         v5,
         {{none, chose}, {connect, Bytes({5, 0, 0, 3, 7}) + "pro"}},
         true,
         silent},
        {"connect reply never comes", v5, {{none, chose}, {connect, ""}}, false, silent},
        {"refused, closed at once",
         v5,
         {{none, chose}, {connect, Bytes({5, 5, 0, 1, 10})}},
         true,
         "Connection refused."},
        {"a code beyond 8",
         v5,
         {{none, chose}, {connect, Bytes({5, 9, 0, 1, 10})}},
         true,
         "Unknown socks error."},
        {"a user name SOCKS 5 does not send",
         {svSocks5, saNoAuthentication, long256, "", "irc.t"},
         {{none, chose}, {connect, Bytes({5, 0, 0, 1, 1, 1, 1, 1, 0, 80}) + hello}},
         false,
         ""},
        {"user name over 255 bytes",
         {svSocks5, saUsernamePassword, long256, "pw", "irc.t"},
         {},
         false,
         tooLong + "user name of 256 bytes, at most 255 allowed."},
        {"password over 255 bytes",
         {svSocks5, saUsernamePassword, "bob", long256, "irc.t"},
         {},
         false,
         tooLong + "password of 256 bytes, at most 255 allowed."},
        {"SOCKS 4A host over 255 bytes",
         {svSocks4A, saNoAuthentication, "", "", long256},
         {},
         false,
         tooLong + "host name of 256 bytes, at most 255 allowed."},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer proxy;
        std::string sent;
        for (const auto& [request, answer] : c.script) {
            proxy.WaitFor(request);
            if (!answer.empty()) {
                proxy.Send(answer);
            }
            sent += request;
        }
        if (c.close) {
            proxy.Close();
        }
        TIdTCPClient client;
        client.SetReadTimeout(300); // the silent rows wait this long
        EXPECT_EQ(ConnectThrough(client, c.settings, proxy.Port(), 6667), c.expected);
        if (c.expected.empty()) {
            EXPECT_EQ(client.ReadLn(), "hello");
            client.Disconnect();
        }
        EXPECT_FALSE(client.Connected());
        if (c.script.empty()) {
            // Not dialled: a probe made now is the first connection, the one the proxy records.
            RawSocket probe = RawSocket::Connected(uint16_t(proxy.Port()));
            ASSERT_EQ(::send(probe.Fd(), "probe", 5, MSG_NOSIGNAL), 5);
            EXPECT_TRUE(proxy.WaitForReceived("probe"));
            continue;
        }
        EXPECT_TRUE(proxy.WaitForClientClose());
        EXPECT_EQ(proxy.Received(), sent);
    }
}

// Each version and method through Dante and microsocks to a loopback server, one proxy start
// per configuration. The refusals are the proxies' own: a method they were not set up for, a
// wrong password, a closed port, a version they do not speak.
TEST(SocksRealProxy, VersionsAndMethodsThroughDanteAndMicrosocks) {
    const std::string host = "127.0.0.1", user = SocksProxy::User,
                      method = "Invalid socks authentication method.";
    const Settings v4{svSocks4, saNoAuthentication, "", "", host},
        v5{svSocks5, saNoAuthentication, "", "", host};
    const Settings v4id{svSocks4, saNoAuthentication, user, "", host};
    const Settings v4a{svSocks4A, saNoAuthentication, "", "", host};
    const Settings login{svSocks5, saUsernamePassword, user, SocksProxy::Password, host};
    const Settings wrong{svSocks5, saUsernamePassword, user, "wrong", host};
    const std::string refused = "Request rejected or failed.",
                      denied = "Authentication error to socks server.";
    const SocksProxy::TKind dante = SocksProxy::kDante, micro = SocksProxy::kMicrosocks;
    const struct {
        SocksProxy::TKind kind;
        bool checksLogin;
        const char* why;
        Settings settings;
        std::string expected;
        bool closedPort;
    } rows[] = {
        {dante, false, "SOCKS 4", v4, "", false},
        {dante, false, "SOCKS 4 with a user id", v4id, "", false},
        {dante, false, "SOCKS 4A, which Dante refuses", v4a, refused, false},
        {dante, false, "SOCKS 5", v5, "", false},
        {dante, false, "SOCKS 5 offering only a log-in", login, method, false},
        {dante, false, "SOCKS 4 to a closed port", v4, refused, true},
        {dante, false, "SOCKS 5 to a closed port", v5, "Connection refused.", true},
        {dante, true, "SOCKS 5 log-in", login, "", false},
        {dante, true, "SOCKS 5 wrong password", wrong, denied, false},
        {dante, true, "SOCKS 5 without log-in", v5, method, false},
        {dante, true, "SOCKS 4, which has no log-in", v4, refused, false},
        {micro, false, "SOCKS 5", v5, "", false},
        {micro, false, "SOCKS 5 offering only a log-in", login, method, false},
        {micro, true, "SOCKS 5 log-in", login, "", false},
        {micro, true, "SOCKS 5 wrong password", wrong, denied, false},
        {micro, true, "SOCKS 5 without log-in", v5, method, false},
    };
    std::unique_ptr<SocksProxy> proxy;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(std::string(row.kind == dante ? "Dante" : "microsocks") +
                     (row.checksLogin ? " with log-in: " : ": ") + row.why);
        if (i == 0 || row.kind != rows[i - 1].kind || row.checksLogin != rows[i - 1].checksLogin) {
            proxy.reset(); // one at a time
            proxy = std::make_unique<SocksProxy>(row.kind, row.checksLogin);
        }
        LoopbackServer server;
        server.Send("hello\r\n").WaitFor("ping\r\n").Send("pong\r\n");
        TIdTCPClient client;
        client.SetReadTimeout(int32_t(TestSupport::HangLimit.count()));
        EXPECT_EQ(ConnectThrough(client, row.settings, proxy->Port(),
                                 row.closedPort ? FreeLoopbackPort() : server.Port()),
                  row.expected)
            << proxy->Log();
        if (!row.expected.empty()) {
            EXPECT_FALSE(client.Connected());
            continue;
        }
        EXPECT_EQ(client.ReadLn(), "hello");
        client.WriteLn("ping");
        EXPECT_EQ(client.ReadLn(), "pong");
        client.Disconnect();
        EXPECT_TRUE(server.WaitForClientClose());
    }
}

// Settings that live elsewhere and the handler forget each other whichever goes first (the
// handler then makes its own, without a proxy); copied settings stay the handler's own.
TEST(SocksSettings, ReferencesAreClearedWhicheverGoesFirst) {
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    auto gone = std::make_unique<TIdSocksInfo>();
    gone->SetVersion(svSocks5);
    handler->SetSocksInfo(gone.get());
    gone.reset();
    EXPECT_EQ(handler->SocksInfo()->Version(), svNoSocks);
    TIdSocksInfo settings;
    settings.SetVersion(svSocks4);
    handler->SetSocksInfo(&settings);
    handler->AssignSocksInfo(settings);
    EXPECT_NE(handler->SocksInfo(), &settings);
    EXPECT_EQ(handler->SocksInfo()->Version(), svSocks4);
    handler->SetSocksInfo(&settings);
    handler.reset();
    EXPECT_EQ(settings.IOHandler(), nullptr);
}
