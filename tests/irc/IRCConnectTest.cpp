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

using IRCConnect = IRCFixture;

TEST_F(IRCConnect, RegistrationSendsPassNickUserInOrder) {
    const std::string local = [] {
        TIdIRC keepStack;
        return ActiveStack()->LocalAddress();
    }();
    const struct {
        const char* why;
        std::string password;
        std::string boundIP; // empty: the stack's first local address names the client
        std::string expected;
    } cases[] = {
        {"no password: NICK and USER only, the bound address twice", "", "127.0.0.1",
         "NICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"a password goes first", "s3cret", "127.0.0.1",
         "PASS s3cret\r\nNICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"unbound: the stack's first local address stands for the client", "", "",
         "NICK Nick\r\nUSER username " + local + " " + local + " :Real name\r\n"},
    };
    for (const auto& c : cases) {
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
        {"a socket error while registering: the write meets a socket shut for writing",
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
