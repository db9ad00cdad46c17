// Connecting: the registration's bytes and the errors. Reading: lines in order, each whole,
// however the bytes are cut; and a clean end on every kind of end, destruction included.
#include "IRCFixture.h"

#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdSocketHandle.h"
#include "ProbeStack.h"
#include "RawSocket.h"

#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

using IRCConnection = IRCFixture;
static const std::string kFour = "A 1\r\nB 2\r\nC 3\r\nD 4\r\n";

// Errors of the TCP connect pass unchanged (State stays csConnecting); socket errors while
// registering become the component's own error, anything else passes unchanged.
TEST_F(IRCConnection, RegistrationSendsPassNickUserInOrderOrFailsAsItShould) {
    ProbeStackScope probe; // each row says what this machine's own name resolves to
    const auto shut = [](TIdIRC& c) {
        RawNet::ShutdownWrite(static_cast<TIdIOHandlerSocket*>(c.IOHandler())->Binding()->Handle());
    };
    const auto fail = [](TIdIRC&) { throw std::runtime_error("failed"); };
    const TIdStrings none, two{"192.0.2.7", "192.0.2.8"};
    const std::string lo = "127.0.0.1";
    const struct {
        const char* why;
        std::string password;
        std::string boundIP; // empty: the client is named by its own name's lookup
        TIdStrings ownName;  // what that lookup finds; none: "Host not found."
        std::function<void(TIdIRC&)> onConnect;
        std::string expected; // the bytes received, or the error; "Socket Error" rows: refused
    } cases[] = {
        {"no password: NICK and USER only, the bound address twice", "", lo, none, nullptr,
         "NICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"unbound: the first address of the machine's name stands for the client", "", "", two,
         nullptr, "NICK Nick\r\nUSER username 192.0.2.7 192.0.2.7 :Real name\r\n"},
        {"a password goes first; unbound, the machine's name unknown: the socket's address",
         "s3cret", "", none, nullptr,
         "PASS s3cret\r\nNICK Nick\r\nUSER username 127.0.0.1 127.0.0.1 :Real name\r\n"},
        {"a refused connect passes unchanged", "", lo, none, nullptr,
         "Socket Error # 10061\r\nConnection refused."},
        {"a socket error while registering: the write meets a socket shut for writing", "", lo,
         none, shut, "IRC: IRC Connect Failed"},
        {"a handler's own error", "", lo, none, fail, "failed"},
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
        const bool refused = c.expected.starts_with("Socket Error");
        if (refused) {
            irc->SetPort(FreeLoopbackPort());
        }
        if (c.onConnect) {
            irc->OnConnect = [&](TIdComponent*) { c.onConnect(*irc); };
        }
        std::string message;
        try {
            irc->Connect(100);
        } catch (const EComponentError& e) {
            message = std::string("IRC: ") + e.what();
        } catch (const std::exception& e) {
            message = e.what();
        }
        EXPECT_EQ(irc->State(), refused ? csConnecting : csConnected);
        if (message.empty()) {
            EXPECT_EQ(states, (std::vector<TIdIRCState>{csConnecting, csConnected}));
            ASSERT_TRUE(peer.WaitForReceived(":Real name\r\n"));
            EXPECT_EQ(peer.Received(), c.expected);
        } else {
            EXPECT_EQ(message, c.expected);
        }
        irc.reset();
    }
}

// What ends the reader, and what must still arrive before it ends. The component is not told:
// its state stays, and a disconnect then skips the ended reader.
TEST_F(IRCConnection, LinesArriveInOrderUntilTheReadingEnds) {
    std::string flood, flooded;
    for (int i = 0; i < 10000; ++i) {
        flood += "L " + std::to_string(i) + "\r\n";
        flooded += "L " + std::to_string(i) + "|";
    }
    const char raw[] = ":n\0k!u\xff@h PRIV\xc3 #c\0 :t\xe2\x82\0";
    const std::string hostile(raw, sizeof raw - 1);
    const struct {
        const char* why;
        std::string wire;
        size_t chunk;          // 0: one segment
        std::string expected;  // the lines handled, "|" after each
        std::string endedWith; // "": still reading
    } cases[] = {
        {"lines in one segment, in order; a bare LF ends one too, an empty one raises nothing",
         "PONG :a\r\nPONG :b\n\r\nY 2\r\n", 0, "PONG :a|PONG :b|Y 2|", ""},
        {"a line split across segments, its CR and LF too, is one line without the CR",
         "SAY #c :hello there\r\n", 4, "SAY #c :hello there|", ""},
        {"bytes one at a time", "A 1\r\nB 2\r\n", 1, "A 1|B 2|", ""},
        {"10,000 lines in one segment: none lost, none out of order", flood, 0, flooded, ""},
        {"NUL bytes and invalid UTF-8 in every field reach the handlers as they came",
         hostile + "\r\n", 0, hostile + "|", ""},
        {"a line of the longest length allowed is read", std::string(16383, 'x') + "\n", 0,
         std::string(16383, 'x') + "|", ""},
        {"a line over 16384 bytes, after the lines before it; the link stays open",
         "A 1\r\nB 2\r\n" + std::string(16385, 'x') + "\r\nC 3\r\n", 0, "A 1|B 2|",
         "Max line length exceeded."},
        {"an unterminated run over 16384 bytes", "A 1\r\n" + std::string(20000, 'y'), 0, "A 1|",
         "Max line length exceeded."},
        {"a server close, after every complete line it sent", kFour, 0, "A 1|B 2|C 3|D 4|",
         "Connection Closed Gracefully."},
        {"a server close in the middle of a line: every complete line, nothing of the half",
         "A 1\r\nB 2\r\nC ha", 0, "A 1|B 2|", "Connection Closed Gracefully."},
        {"a reset in the middle of a line: every complete line, then the reset",
         "A 1\r\nB 2\r\nC ha", 0, "A 1|B 2|", "Socket Error # 10054\r\nConnection reset by peer."},
        {"a handler's exception (on B), with the next lines in the same hand-off", kFour, 0,
         "A 1|B 2|", "handler failed"},
        {"a handler's exception (on B), with the next lines arriving later", kFour, 4, "A 1|B 2|",
         "handler failed"},
        {"a handler's exception on the last line, the server quiet after it", "A 1\r\nB 2\r\n", 0,
         "A 1|B 2|", "handler failed"},
    };
    std::string notRun; // the rows this platform cannot show
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.endedWith.find("reset") != std::string::npos && RawNet::UnderWine()) {
            notRun += std::string("\n  ") + c.why;
            continue;
        }
        LoopbackServer peer;
        irc = Aimed(peer);
        irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool&) {
            if (received.back() == "B 2" && c.endedWith == "handler failed") {
                throw std::runtime_error("handler failed");
            }
        };
        irc->Connect();
        peer.Send(c.wire, c.chunk, c.chunk == 0 ? 0ms : 1ms);
        if (c.endedWith.starts_with("Connection Closed")) {
            peer.Close();
        } else if (c.endedWith.find("reset") != std::string::npos) {
            peer.Reset();
        }
        const bool reading = c.endedWith.empty();
        if (reading) {
            peer.Send("END\r\n"); // a sentinel: nothing else came in between
        }
        ASSERT_TRUE(Pump([&] {
            return reading ? !received.empty() && received.back() == "END" : irc->ReadThreadEnded();
        }));
        EXPECT_EQ(received, Split(c.expected + (reading ? "END" : ""), '|'));
        EXPECT_EQ(irc->ReadThreadEndedWith(), c.endedWith);
        EXPECT_EQ(irc->State(), csConnected);
        TestSupport::Watchdog watchdog("Disconnect after the reader ended");
        irc->Disconnect(true);
    }
    if (!notRun.empty()) {
        GTEST_SKIP() << "the other rows ran; not these, as " << RawNet::kWineResetReadsAsEnd << ":"
                     << notRun;
    }
}

// A slow burst returns the window's thread to its event loop (to repaint) after a few
// milliseconds, the rest following in later hand-offs; each line's events finish first.
TEST_F(IRCConnection, EachLinesEventsFinishBeforeTheNextLineBegins) {
    Start("");
    std::string events, expected, lines;
    irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string& ACommand, const std::string&, bool&) {
        events += received.back() + " raw " + ACommand + "|";
        const auto until = std::chrono::steady_clock::now() + 200us; // a slow window
        while (std::chrono::steady_clock::now() < until) {
        }
    };
    for (int i = 0; i < 100; ++i) {
        const std::string command = "C" + std::to_string(i);
        lines += command + " x\r\n";
        expected += command + " x raw " + command + "|";
    }
    server.Send(lines);
    ASSERT_TRUE(TestSupport::WaitUntil([] { return Queue().PendingCount() == 1; }));
    Queue().ProcessPending();
    // 16 lines of 200 us each are past the 2 ms a hand-off may take.
    EXPECT_GT(received.size(), 0u);
    EXPECT_LE(received.size(), 16u);
    ASSERT_TRUE(Pump([&] { return received.size() >= 100; }));
    EXPECT_EQ(events, expected);
}

// A handler that lets go of the reader ends its batch: no further line of it is handled,
// nothing freed is touched, and a new session sees none of the old one's lines. The new
// session's USER names the server the old one learned.
TEST_F(IRCConnection, NoLineIsHandledAfterAHandlerLetGoOfTheReader) {
    const std::string welcome = ":irc.example.net 001 Nick :Hi";
    for (const std::string action : {"disconnect", "reconnect", "destroy"}) {
        SCOPED_TRACE(action);
        LoopbackServer peer, later;
        irc = Aimed(peer);
        irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool&) {
            ASSERT_NE(irc, nullptr);
            if (received.back() != "B 2") {
                return;
            }
            TestSupport::Watchdog watchdog(action + " from a handler");
            irc->SetPort(later.Port());
            if (action == "destroy") {
                irc.reset();
            } else {
                action == "reconnect" ? irc->Connect() : irc->Disconnect(true);
            }
        };
        irc->Connect();
        peer.Send(welcome + "\r\nB 2\r\nC 3\r\nD 4\r\n");
        ASSERT_TRUE(Pump([&] { return received.size() >= 2; }));
        std::vector<std::string> expected = {welcome, "B 2"};
        if (action == "reconnect") {
            EXPECT_TRUE(peer.WaitForClientClose());
            ASSERT_TRUE(later.WaitForReceived(":Real name\r\n"));
            EXPECT_EQ(later.Received(),
                      "NICK Nick\r\nUSER username 127.0.0.1 irc.example.net :Real name\r\n");
            later.Send("NEW 1\r\n");
            ASSERT_TRUE(Pump([&] { return received.size() >= 3; }));
            expected.push_back("NEW 1");
        } else if (action == "disconnect") {
            ASSERT_TRUE(Pump([&] { return irc->ReadThreadEnded(); }));
            irc->HandleReceivedLine("PING :x"); // nor is a line handed over now handled
        }
        EXPECT_EQ(received, expected);
    }
}

// Destroying the component (the window closed) never waits forever, wherever the reader is:
// round 0 in a hand-off not run yet, which then fails instead of running on a freed component;
// round 1 inside a read, with an OnDisconnect that raises; the rest right after the server
// closed (reading the rest, in a hand-off, ending).
TEST_F(IRCConnection, DestroyingWhereverTheReaderIs) {
    for (int round = 0; round < 22; ++round) {
        SCOPED_TRACE(round);
        LoopbackServer peer;
        irc = Aimed(peer);
        irc->Connect();
        if (round == 0) {
            peer.Send(kFour);
            ASSERT_TRUE(TestSupport::WaitUntil([] { return Queue().PendingCount() == 1; }));
        } else if (round == 1) {
            // Half a line, once taken from the socket, keeps the reader inside its read, where
            // only a close ends it (a handled line would leave a moment in which it checks for
            // its end).
            ASSERT_TRUE(peer.Send("A 1").WaitScriptDone());
            const int fd = static_cast<TIdIOHandlerSocket*>(irc->IOHandler())->Binding()->Handle();
            ASSERT_TRUE(TestSupport::WaitUntil([fd] { return RawNet::Pending(fd) == 0; }));
            irc->OnDisconnect = [](TIdComponent*) { throw std::runtime_error("handler failed"); };
        } else {
            ASSERT_TRUE(peer.Send(kFour).Close().WaitScriptDone());
            if (round % 2 == 1) {
                std::this_thread::yield();
                Queue().ProcessPending();
            }
        }
        TestSupport::Watchdog watchdog("destroying the component");
        irc.reset();
        if (round == 0) {
            EXPECT_TRUE(received.empty());
            EXPECT_EQ(Queue().PendingCount(), 0u);
        }
    }
}
