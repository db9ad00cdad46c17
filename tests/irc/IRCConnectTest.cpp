// Connecting and registering: the exact bytes on the wire, and which errors reach the caller
// as what.
#include "IRCFixture.h"

#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "ProbeStack.h"
#include "RawSocket.h"

#include <stdexcept>
#include <sys/socket.h>

using IRCConnect = IRCFixture;

TEST_F(IRCConnect, RegistrationSendsPassNickUserInOrder) {
    ProbeStackScope probe; // each row says what this machine's own name resolves to
    const struct {
        const char* why;
        std::string password;
        std::string boundIP; // empty: the client is named by its own name's lookup
        TIdStrings ownName;  // what that lookup finds; none: "Host not found."
        std::string expected;
    } cases[] = {
        {"no password: NICK and USER only, the bound address twice", "", "127.0.0.1", TIdStrings{},
         "NICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"a password goes first", "s3cret", "127.0.0.1", TIdStrings{},
         "PASS s3cret\r\nNICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"unbound: the first address of the machine's name stands for the client", "", "",
         TIdStrings{"192.0.2.7", "192.0.2.8"},
         "NICK Nick\r\nUSER username 192.0.2.7 192.0.2.7 :Real name\r\n"},
        {"unbound, the machine's name unknown: the address the socket is bound to", "s3cret", "",
         TIdStrings{},
         "PASS s3cret\r\nNICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        std::vector<TIdIRCState> states; // outlives the client, whose destruction changes State
        irc = Aimed(peer);
        ProbeStack::Active()->OwnNameAddresses = c.ownName;
        irc->SetBoundIP(c.boundIP);
        irc->SetPassword(c.password);
        irc->OnStateChange = [&states, client = irc.get()](TIdComponent*) {
            states.push_back(client->State());
        };
        irc->Connect(100);
        EXPECT_EQ(states, (std::vector<TIdIRCState>{csConnecting, csConnected}));
        ASSERT_TRUE(peer.WaitForReceived(":Real name\r\n"));
        EXPECT_EQ(peer.Received(), c.expected);
        irc.reset();
    }
}

// A later connect names the server the component learned in USER, and a connect while
// connected first closes the old connection.
TEST_F(IRCConnect, ReconnectClosesTheOldConnectionAndNamesTheKnownServer) {
    CreateAndConnect();
    irc->HandleReceivedLine(":irc.example.net 001 Nick :Welcome");
    LoopbackServer later;
    irc->SetPort(later.Port());
    irc->Connect();
    EXPECT_TRUE(server.WaitForClientClose());
    ASSERT_TRUE(later.WaitForReceived("Real name\r\n"));
    EXPECT_EQ(later.Received(),
              "NICK Nick\r\nUSER username 127.0.0.1 irc.example.net :Real name\r\n");
}

// Errors of the TCP connect pass unchanged (State stays csConnecting); socket errors while
// registering become the component's own error, anything else passes unchanged.
TEST_F(IRCConnect, ConnectErrorsReachTheCallerAsTheyShould) {
    const struct {
        const char* why;
        std::function<void(TIdIRC&)> onConnect; // nullptr: nobody listens
        std::string expected;
    } cases[] = {
        {"a refused connect passes unchanged", nullptr,
         "Socket Error # 10061\r\nConnection refused."},
        {"a socket error from the OnConnect handler",
         [](TIdIRC&) { throw EIdSocketError(10054, "reset"); }, "IRC: IRC Connect Failed"},
        {"a real one: the registration's write meets a socket shut for writing",
         [](TIdIRC& c) {
             ::shutdown(static_cast<TIdIOHandlerSocket*>(c.IOHandler())->Binding()->Handle(),
                        SHUT_WR);
         },
         "IRC: IRC Connect Failed"},
        {"a transport error that is no socket error", [](TIdIRC&) { throw EIdClosedSocket(); },
         "Disconnected."},
        {"a handler's own error", [](TIdIRC&) { throw std::runtime_error("failed"); }, "failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        irc = Aimed(peer);
        if (!c.onConnect) {
            irc->SetPort(FreeLoopbackPort());
        } else {
            irc->OnConnect = [&](TIdComponent*) { c.onConnect(*irc); };
        }
        std::string message;
        try {
            irc->Connect();
        } catch (const EComponentError& e) {
            message = std::string("IRC: ") + e.what();
        } catch (const std::exception& e) {
            message = e.what();
        }
        EXPECT_EQ(message, c.expected);
        EXPECT_EQ(irc->State(), c.onConnect ? csConnected : csConnecting);
    }
}

TEST_F(IRCConnect, IsOpAndIsVoiceAnswerForTheNickAsked) {
    irc = Aimed(server);
    irc->SetNick("@me+"); // what the old rule read: it must not make everyone an operator
    TIdIRCChannel* first = irc->Channels().Add("#one");
    for (const char* entry : {"@alice", "+bob", "@carol+", "dave"}) {
        first->AddUser(entry, "");
    }
    irc->Channels().Add("#two")->AddUser("+alice", "");
    // "o" operator, "v" voiced: alice in two channels, any letter case, and the own nick that
    // is no member.
    const std::pair<const char*, const char*> cases[] = {{"alice", "ov"}, {"bob", "v"},
                                                         {"carol", "ov"}, {"dave", ""},
                                                         {"ALICE", "ov"}, {"@me+", ""}};
    for (const auto& [nick, flags] : cases) {
        EXPECT_EQ(std::string(irc->IsOp(nick) ? "o" : "") + (irc->IsVoice(nick) ? "v" : ""), flags)
            << nick;
    }
}
