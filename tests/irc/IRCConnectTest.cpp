// Connecting and registering: the exact bytes on the wire, and which errors reach the caller
// as what.
#include "IRCFixture.h"

#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "RawSocket.h"

#include <stdexcept>
#include <sys/socket.h>

namespace {

using IRCConnect = IRCFixture;

// Gives the component the server name a welcome reply would have left.
class ServerNamedIRC : public TIdIRC {
public:
    using TIdIRC::SetServerName;
};

} // namespace

TEST_F(IRCConnect, RegistrationSendsPassNickUserInOrder) {
    struct Case {
        const char* why;
        std::string password;
        std::string boundIP; // empty: the stack's first local address names the client
        std::string expected;
    };
    const std::string local = [] {
        TIdIRC keepStack;
        return ActiveStack()->LocalAddress();
    }();
    const Case cases[] = {
        {"no password: NICK and USER only, the bound address twice", "", "127.0.0.1",
         "NICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"a password goes first", "s3cret", "127.0.0.1",
         "PASS s3cret\r\nNICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"unbound: the stack's first local address stands for the client", "", "",
         "NICK Nick\r\nUSER username " + local + " " + local + " :Real name\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        std::vector<TIdIRCState> states; // outlives the client, whose destruction changes State
        irc = Aimed(peer);
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
    ServerNamedIRC client;
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.SetBoundIP("127.0.0.1");
    client.SetNick("alice");
    client.Connect();
    ASSERT_TRUE(server.WaitForReceived("Real name\r\n"));
    client.SetServerName("irc.example.net");
    LoopbackServer later;
    client.SetPort(later.Port());
    client.Connect();
    EXPECT_TRUE(server.WaitForClientClose());
    ASSERT_TRUE(later.WaitForReceived("Real name\r\n"));
    EXPECT_EQ(later.Received(),
              "NICK alice\r\nUSER username 127.0.0.1 irc.example.net :Real name\r\n");
    // A derived class's part goes before the component's destructor stops the reader, which
    // may still be calling the connection's virtuals: let the reader end first.
    later.Close();
    ASSERT_TRUE(Pump([&] { return client.ReadThreadEnded(); }));
}

// Errors of the TCP connect pass unchanged (State stays csConnecting); socket errors while
// registering become the component's own error, anything else passes unchanged (State stays
// csConnected).
TEST_F(IRCConnect, ConnectErrorsReachTheCallerAsTheyShould) {
    struct Case {
        const char* why;
        bool refused; // nobody listens
        std::function<void(TIdIRC&)> onConnect;
        std::string expected;
        TIdIRCState state;
    };
    const Case cases[] = {
        {"a refused connect passes unchanged", true, nullptr,
         "Socket Error # 10061\r\nConnection refused.", csConnecting},
        {"a socket error from the OnConnect handler", false,
         [](TIdIRC&) { throw EIdSocketError(10054, "reset"); }, "IRC Connect Failed", csConnected},
        {"a real one: the registration's write meets a socket shut for writing", false,
         [](TIdIRC& c) {
             ::shutdown(static_cast<TIdIOHandlerSocket*>(c.IOHandler())->Binding()->Handle(),
                        SHUT_WR);
         },
         "IRC Connect Failed", csConnected},
        {"a transport error that is no socket error passes unchanged", false,
         [](TIdIRC&) { throw EIdClosedSocket(); }, "Disconnected.", csConnected},
        {"a handler's own error passes unchanged", false,
         [](TIdIRC&) { throw std::runtime_error("handler failed"); }, "handler failed",
         csConnected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        irc = Aimed(peer);
        if (c.refused) {
            irc->SetPort(FreeLoopbackPort());
        }
        irc->OnConnect = [&](TIdComponent*) { c.onConnect(*irc); };
        std::string message;
        try {
            irc->Connect();
        } catch (const EComponentError& e) {
            message = std::string("EComponentError ") + e.what();
        } catch (const std::exception& e) {
            message = e.what();
        }
        EXPECT_EQ(message,
                  (c.expected == "IRC Connect Failed" ? "EComponentError " : "") + c.expected);
        EXPECT_EQ(irc->State(), c.state);
    }
}

TEST_F(IRCConnect, NickAndSendingWhileNotConnected) {
    Create();
    std::vector<std::string> errors;
    irc->OnError = [&](TIdIRC*, TIdIRCUser* AUser, const std::string& ANumeric,
                       const std::string& AError) {
        EXPECT_EQ(AUser, nullptr);
        EXPECT_EQ(ANumeric, "");
        errors.push_back(AError);
    };
    irc->Say("#c", "hello");
    EXPECT_EQ(errors, std::vector<std::string>{"Not connected to server."});
    irc->SetNick("alice"); // stored: it goes out with the registration
    irc->Connect();
    irc->SetNick("bob"); // sent: nothing changes until the server confirms
    ASSERT_TRUE(server.WaitForReceived("NICK bob\r\n"));
    EXPECT_EQ(server.Received(),
              "NICK alice\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\nNICK bob\r\n");
    EXPECT_EQ(irc->Nick(), "alice");
}

TEST_F(IRCConnect, DisconnectRaisesItsEventsInOrderAndSendsNothing) {
    CreateAndConnect();
    std::vector<std::string> log;
    irc->OnDisconnect = [&](TIdComponent*) { log.push_back("OnDisconnect"); };
    irc->OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
    irc->OnStateChange = [&log, client = irc.get()](TIdComponent*) {
        log.push_back(client->State() == csDisconnecting ? "csDisconnecting" : "csDisconnected");
    };
    irc->Disconnect(false); // not logged in, not forced: nothing happens
    EXPECT_TRUE(log.empty());
    irc->Disconnect(true);
    EXPECT_EQ(log, (std::vector<std::string>{"csDisconnecting", "OnDisconnect", "OnDisconnected",
                                             "csDisconnected", "OnDisconnected"}));
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_EQ(server.Received(), "NICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n");
}

// The window's nick list asks about each listed user: the answer is that user's flags in the
// tracked channels (any letter case), never something read off the client's own nick.
TEST_F(IRCConnect, IsOpAndIsVoiceAnswerForTheNickAsked) {
    Create();
    irc->SetNick("@me+"); // what the old rule read: it must not make everyone an operator
    TIdIRCChannel* first = irc->Channels().Add("#one");
    for (const char* entry : {"@alice", "+bob", "@carol+", "dave"}) {
        first->AddUser(entry, "");
    }
    irc->Channels().Add("#two")->AddUser("+alice", "");
    struct Case {
        const char* why;
        const char* nick;
        bool op;
        bool voice;
    };
    const Case cases[] = {
        {"an operator in one channel, voiced in another", "alice", true, true},
        {"voiced only", "bob", false, true},
        {"both in one entry", "carol", true, true},
        {"a plain member", "dave", false, false},
        {"letter case does not matter", "ALICE", true, true},
        {"not a member anywhere, the client's own nick included", "@me+", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(irc->IsOp(c.nick), c.op);
        EXPECT_EQ(irc->IsVoice(c.nick), c.voice);
    }
}
