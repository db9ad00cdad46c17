// Connecting through SOCKS proxies: a scripted proxy that lies or fails, and the real ones.
#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "RawSocket.h"
#include "SocksProxy.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

using Script = std::vector<std::pair<std::string, std::string>>; // {request, answer}

struct Settings {
    Settings(TSocksVersion AVersion, TSocksAuthentication AAuthentication = saNoAuthentication,
             std::string AUsername = "", std::string APassword = "")
        : Version(AVersion), Authentication(AAuthentication), Username(std::move(AUsername)),
          Password(std::move(APassword)) {}
    TSocksVersion Version;
    TSocksAuthentication Authentication;
    std::string Username;
    std::string Password;
};

// Connects AClient to AHost:APort through the proxy at AProxyPort; the error text, or "" once
// connected.
std::string ConnectThrough(TIdTCPClient& AClient, const Settings& ASettings, int AProxyPort,
                           const std::string& AHost, int APort) {
    auto* handler = new TIdIOHandlerSocket();
    AClient.SetIOHandler(handler);
    AClient.SetOwnsIOHandler(true);
    TIdSocksInfo* socks = handler->SocksInfo();
    socks->SetVersion(ASettings.Version);
    socks->SetAuthentication(ASettings.Authentication);
    socks->SetUsername(ASettings.Username);
    socks->SetPassword(ASettings.Password);
    socks->SetHost("127.0.0.1");
    socks->SetPort(AProxyPort);
    AClient.SetHost(AHost);
    AClient.SetPort(APort);
    const std::string error = Raised<EIdSocksError>([&] { AClient.Connect(); });
    return error == "(nothing raised)" ? "" : error;
}

std::string Bytes(std::initializer_list<int> ABytes) {
    std::string result;
    for (int byte : ABytes) {
        result.push_back(char(byte));
    }
    return result;
}

} // namespace

// Every way a proxy can refuse, lie or fail ends the connect with its own error and a closed
// socket, never a hang: the silent rows end by the read time-out. A reply is read to its last
// byte and no further, so the server's first line (hello) follows intact. Settings the request
// cannot carry are refused before the proxy is even dialled.
TEST(SocksHostileProxy, EachFaultGivesItsErrorAndClosesTheSocket) {
    const std::string port = Bytes({0x1A, 0x0B}); // 6667
    const std::string v4 = Bytes({4, 1}) + port + Bytes({127, 0, 0, 1, 0});
    const std::string v4a = Bytes({4, 1}) + port + Bytes({0, 0, 0, 1}) + "bob" + '\0' + "irc.test";
    const std::string granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
    const std::string none = Bytes({5, 1, 0}), userPass = Bytes({5, 1, 2});
    const std::string login = Bytes({1, 3}) + "bob" + Bytes({2}) + "pw";
    const std::string connect = Bytes({5, 1, 0, 3, 8}) + "irc.test" + port;
    const std::string ok = Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0, 80});
    const std::string hello = "hello\r\n";
    const std::string silent = "Socks server did not respond.";
    const Settings v5{svSocks5}, v5login{svSocks5, saUsernamePassword, "bob", "pw"};
    const Settings v4none{svSocks4}, v4abob{svSocks4A, saNoAuthentication, "bob"};
    const std::string longName(256, 'x');
    struct Case {
        Case(const char* AWhy, Settings ASettings, Script AScript, bool AClose,
             std::string AExpected, std::string AHost = "irc.test")
            : why(AWhy), settings(std::move(ASettings)), script(std::move(AScript)), close(AClose),
              expected(std::move(AExpected)), host(std::move(AHost)) {}
        const char* why;
        Settings settings;
        Script script;
        bool close; // the proxy closes after its script, else it goes silent
        std::string expected;
        std::string host;
    };
    const Case fixed[] = {
        {"SOCKS 4 granted", v4none, {{v4, granted + hello}}, false, "", "127.0.0.1"},
        {"SOCKS 4A sends the name", v4abob, {{v4a + '\0', granted + hello}}, false, ""},
        {"SOCKS 4 reply cut short",
         v4none,
         {{v4, granted.substr(0, 5)}},
         true,
         silent,
         "127.0.0.1"},
        {"SOCKS 4 reply never comes", v4none, {{v4, ""}}, false, silent, "127.0.0.1"},
        {"SOCKS 4 reply in another version",
         v4none,
         {{v4, Bytes({4, 90, 0, 0, 0, 0, 0, 0})}},
         false,
         "Invalid reply from socks server: version 4 in the connect reply, 0 expected.",
         "127.0.0.1"},
        {"SOCKS 5 with a named bound address",
         v5,
         {{none, Bytes({5, 0})}, {connect, Bytes({5, 0, 0, 3, 7}) + "proxy.x" + port + hello}},
         false,
         ""},
        {"SOCKS 5 with an IPv6 bound address",
         v5login,
         {{userPass, Bytes({5, 2})},
          {login, Bytes({1, 0})},
          {connect, Bytes({5, 0, 0, 4}) + std::string(16, '\1') + port + hello}},
         false,
         ""},
        {"method reply cut short", v5, {{none, Bytes({5})}}, true, silent},
        {"closed after the method selection", v5, {{none, ""}}, true, silent},
        {"no acceptable method",
         v5,
         {{none, Bytes({5, 0xFF})}},
         false,
         "Invalid socks authentication method."},
        {"a method that was not offered",
         v5login,
         {{userPass, Bytes({5, 0})}},
         false,
         "Invalid socks authentication method."},
        {"method reply in another version",
         v5,
         {{none, Bytes({4, 0})}},
         false,
         "Invalid reply from socks server: version 4 in the method selection reply, 5 expected."},
        {"method reply longer than allowed",
         v5,
         {{none, Bytes({5, 0, 0})}},
         false,
         "Invalid reply from socks server: more bytes than the method selection reply holds."},
        {"log-in refused",
         v5login,
         {{userPass, Bytes({5, 2})}, {login, Bytes({1, 1})}},
         false,
         "Authentication error to socks server."},
        {"log-in reply in another version",
         v5login,
         {{userPass, Bytes({5, 2})}, {login, Bytes({5, 0})}},
         false,
         "Invalid reply from socks server: version 5 in the authentication reply, 1 expected."},
        {"connect reply in another version",
         v5,
         {{none, Bytes({5, 0})}, {connect, Bytes({4, 0, 0, 1, 1})}},
         false,
         "Invalid reply from socks server: version 4 in the connect reply, 5 expected."},
        {"unknown address type",
         v5,
         {{none, Bytes({5, 0})}, {connect, Bytes({5, 0, 0, 2, 1, 1, 1, 1, 0, 80})}},
         false,
         "Invalid reply from socks server: address type 2 in the connect reply."},
        {"closed in the bound name",
         v5,
         {{none, Bytes({5, 0})}, {connect, Bytes({5, 0, 0, 3, 7}) + "pro"}},
         true,
         silent},
        {"connect reply never comes", v5, {{none, Bytes({5, 0})}, {connect, ""}}, false, silent},
        {"user name over 255 bytes",
         {svSocks5, saUsernamePassword, longName, "pw"},
         {},
         false,
         "Invalid socks request: user name of 256 bytes, at most 255 allowed."},
        {"password over 255 bytes",
         {svSocks5, saUsernamePassword, "bob", longName},
         {},
         false,
         "Invalid socks request: password of 256 bytes, at most 255 allowed."},
        {"SOCKS 5 host name over 255 bytes",
         v5,
         {},
         false,
         "Invalid socks request: host name of 256 bytes, at most 255 allowed.",
         longName},
        {"SOCKS 4A host name over 255 bytes",
         v4abob,
         {},
         false,
         "Invalid socks request: host name of 256 bytes, at most 255 allowed.",
         longName},
        {"SOCKS 4 user id over 255 bytes",
         {svSocks4, saNoAuthentication, longName},
         {},
         false,
         "Invalid socks request: user name of 256 bytes, at most 255 allowed.",
         "127.0.0.1"},
    };
    std::vector<Case> cases(std::begin(fixed), std::end(fixed));
    const char* const socks4Texts[] = {
        "Request rejected or failed.", "Request rejected because SOCKS server cannot connect.",
        "Request rejected because the client program and identd report different user-ids.",
        "Unknown socks error."};
    for (int status = 91; status <= 94; ++status) {
        cases.push_back({"SOCKS 4 refusal",
                         v4none,
                         {{v4, Bytes({0, status, 0, 0, 0, 0, 0, 0})}},
                         true,
                         socks4Texts[status - 91],
                         "127.0.0.1"});
    }
    const char* const socks5Texts[] = {
        "General SOCKS server failure.", "Connection not allowed by ruleset.",
        "Network unreachable.",          "Host unreachable.",
        "Connection refused.",           "TTL expired.",
        "Command not supported.",        "Address type not supported.",
        "Unknown socks error."};
    for (int code = 1; code <= 9; ++code) {
        // The proxy closes after the code alone: the refusal is raised before reading on.
        cases.push_back({"SOCKS 5 refusal",
                         v5,
                         {{none, Bytes({5, 0})}, {connect, Bytes({5, code, 0, 1, 10})}},
                         true,
                         socks5Texts[code - 1]});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.why) + " " + c.expected);
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
        EXPECT_EQ(ConnectThrough(client, c.settings, proxy.Port(), c.host, 6667), c.expected);
        if (c.expected.empty()) {
            EXPECT_EQ(client.ReadLn(), "hello");
            client.Disconnect();
        }
        EXPECT_FALSE(client.Connected());
        if (c.script.empty()) {
            // Nothing reached the proxy: a probe made now is the first connection it accepts.
            RawSocket probe = RawSocket::Connected(uint16_t(proxy.Port()));
            ASSERT_TRUE(TestSupport::WaitUntil([&] { return proxy.ConnectionCount() > 0; }));
            EXPECT_EQ(proxy.ConnectionCount(), 1u);
            continue;
        }
        EXPECT_TRUE(proxy.WaitForClientClose());
        EXPECT_TRUE(proxy.Failures().empty()) << proxy.Failures().front();
        EXPECT_EQ(proxy.Received(), sent);
    }
}

// Each version and method through Dante and microsocks to a loopback server, one proxy start
// for all of its rows. Refusals are the proxies' own: a method they were not set up for, a
// wrong password, a closed port, a version they do not speak.
TEST(SocksRealProxy, VersionsAndMethodsThroughDanteAndMicrosocks) {
    const Settings v4{svSocks4}, v4id{svSocks4, saNoAuthentication, "somebody"}, v4a{svSocks4A};
    const Settings v5{svSocks5};
    const Settings login{svSocks5, saUsernamePassword, SocksProxy::User, SocksProxy::Password};
    const Settings wrong{svSocks5, saUsernamePassword, SocksProxy::User, "wrong"};
    const std::string method = "Invalid socks authentication method.";
    const std::string refused = "Request rejected or failed.";
    const std::string denied = "Authentication error to socks server.";
    struct Row {
        Row(const char* AWhy, Settings ASettings, std::string AExpected, bool AClosedPort = false)
            : why(AWhy), settings(std::move(ASettings)), expected(std::move(AExpected)),
              closedPort(AClosedPort) {}
        const char* why;
        Settings settings;
        std::string expected;
        bool closedPort;
    };
    const Row danteNone[] = {{"SOCKS 4", v4, ""},
                             {"SOCKS 4 with a user id", v4id, ""},
                             {"SOCKS 4A, which Dante refuses", v4a, refused},
                             {"SOCKS 5", v5, ""},
                             {"SOCKS 5 offering only a log-in", login, method},
                             {"SOCKS 4 to a closed port", v4, refused, true},
                             {"SOCKS 5 to a closed port", v5, "Connection refused.", true}},
              danteLogin[] = {{"SOCKS 5 log-in", login, ""},
                              {"SOCKS 5 wrong password", wrong, denied},
                              {"SOCKS 5 without log-in", v5, method},
                              {"SOCKS 4, which has no log-in", v4, refused}},
              microNone[] = {{"SOCKS 5", v5, ""},
                             {"SOCKS 5 offering only a log-in", login, method}},
              microLogin[] = {{"SOCKS 5 log-in", login, ""},
                              {"SOCKS 5 wrong password", wrong, denied},
                              {"SOCKS 5 without log-in", v5, method}};
    const struct {
        const char* name;
        SocksProxy::TKind kind;
        bool login;
        std::vector<Row> rows;
    } proxies[] = {
        {"Dante", SocksProxy::kDante, false, {std::begin(danteNone), std::end(danteNone)}},
        {"Dante with log-in",
         SocksProxy::kDante,
         true,
         {std::begin(danteLogin), std::end(danteLogin)}},
        {"microsocks",
         SocksProxy::kMicrosocks,
         false,
         {std::begin(microNone), std::end(microNone)}},
        {"microsocks with log-in",
         SocksProxy::kMicrosocks,
         true,
         {std::begin(microLogin), std::end(microLogin)}},
    };
    for (const auto& p : proxies) {
        SCOPED_TRACE(p.name);
        SocksProxy proxy(p.kind, p.login);
        for (const Row& row : p.rows) {
            SCOPED_TRACE(row.why);
            LoopbackServer server;
            server.Send("hello\r\n").WaitFor("ping\r\n").Send("pong\r\n");
            const int port = row.closedPort ? FreeLoopbackPort() : server.Port();
            TIdTCPClient client;
            client.SetReadTimeout(int32_t(TestSupport::HangLimit.count()));
            EXPECT_EQ(ConnectThrough(client, row.settings, proxy.Port(), "127.0.0.1", port),
                      row.expected)
                << proxy.Log();
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
}

// Settings that live elsewhere are forgotten when destroyed (the handler then makes its own,
// without a proxy), and forget a handler destroyed before them; copied settings stay the
// handler's own.
TEST(SocksSettings, ReferencesAreClearedWhicheverGoesFirst) {
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    {
        TIdSocksInfo gone;
        gone.SetVersion(svSocks5);
        handler->SetSocksInfo(&gone);
        EXPECT_EQ(gone.IOHandler(), handler.get());
    }
    EXPECT_EQ(handler->SocksInfo()->Version(), svNoSocks);
    TIdSocksInfo settings;
    settings.SetVersion(svSocks4);
    handler->SetSocksInfo(&settings);
    handler->AssignSocksInfo(settings);
    EXPECT_NE(handler->SocksInfo(), &settings);
    EXPECT_EQ(handler->SocksInfo()->Version(), svSocks4);
    EXPECT_EQ(settings.IOHandler(), nullptr);
    handler->SetSocksInfo(&settings);
    handler.reset();
    EXPECT_EQ(settings.IOHandler(), nullptr);
}
