// The reader: lines reach the component on the window's thread, in order, one completely
// before the next, however the server's bytes are cut; and reading ends cleanly on every
// kind of end, including the component's destruction at any moment.
#include "IRCFixture.h"

#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

using IRCReader = IRCFixture;

std::string Lines(const std::vector<std::string>& ALines) {
    std::string wire;
    for (const std::string& line : ALines) {
        wire += line + "\r\n";
    }
    return wire;
}

const std::string kFour = Lines({"A 1", "B 2", "C 3", "D 4"});

} // namespace

TEST_F(IRCReader, LinesArriveInOrderHoweverTheBytesAreCut) {
    const struct {
        const char* why;
        std::string wire;
        size_t chunk;         // 0: one segment
        std::string expected; // "|" after each line
    } cases[] = {
        {"two lines in one segment are two lines, in order", "PONG :a\r\nPONG :b\r\n", 0,
         "PONG :a|PONG :b|"},
        {"a line split across segments is one line", "SAY #c :hello there\r\n", 7,
         "SAY #c :hello there|"},
        {"a CR LF split between segments leaves no CR", "A 1\r\nB 2\r\n", 4, "A 1|B 2|"},
        {"byte by byte", "X 1\r\nY 2\r\n", 1, "X 1|Y 2|"},
        {"a bare LF ends a line too; an empty line raises nothing", "X 1\n\r\nY 2\r\n", 0,
         "X 1|Y 2|"},
        {"a line of the longest length allowed is read", std::string(16383, 'x') + "\n", 0,
         std::string(16383, 'x') + "|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        irc = Aimed(peer);
        irc->Connect();
        // A sentinel after the case proves nothing else came in between.
        peer.Send(c.wire, c.chunk, c.chunk == 0 ? 0ms : 1ms).Send("END\r\n");
        ASSERT_TRUE(Pump([&] { return !received.empty() && received.back() == "END"; }));
        std::string lines;
        for (size_t i = 0; i + 1 < received.size(); ++i) {
            lines += received[i] + "|";
        }
        EXPECT_EQ(lines, c.expected);
        // Every line is tokenized and, no command the dispatcher knows, raises OnUnknownCommand.
        EXPECT_EQ(unknown.size(), received.size());
    }
}

// A burst in one segment travels in few hand-offs, but one that takes long returns the
// window's thread to its event loop (to repaint) after a few milliseconds; the rest follow in
// the next hand-offs, and each line's events finish before the next line's begin.
TEST_F(IRCReader, EachLinesEventsFinishBeforeTheNextLineBegins) {
    CreateAndConnect();
    std::string events, expected, lines;
    irc->OnReceive = [&](TIdIRC*, const std::string& ALine) {
        received.push_back(ALine);
        events += "receive " + ALine;
    };
    irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string& ACommand, const std::string&, bool&) {
        events += " raw " + ACommand;
        const auto until = std::chrono::steady_clock::now() + 200us; // a slow window
        while (std::chrono::steady_clock::now() < until) {
        }
    };
    irc->OnUnknownCommand = [&](TIdIRC*, TIdIRCUser*, const std::string& ACommand,
                                const std::string&) { events += " unknown " + ACommand + "|"; };
    for (int i = 0; i < 100; ++i) {
        const std::string command = "C" + std::to_string(i);
        lines += command + " x\r\n";
        expected += "receive " + command + " x raw " + command + " unknown " + command + "|";
    }
    server.Send(lines);
    ASSERT_TRUE(TestSupport::WaitUntil([] { return Queue().PendingCount() == 1; }));
    Queue().ProcessPending();
    // 16 lines of 200 us each are past the 2 ms a hand-off may take.
    EXPECT_GT(received.size(), 0u);
    EXPECT_LE(received.size(), 16u);
    ASSERT_TRUE(PumpUntilReceived(100));
    EXPECT_EQ(events, expected);
}

// What ends the reader, and what must still arrive before it ends. The component is not told:
// its state stays, and a disconnect then skips the ended reader.
TEST_F(IRCReader, ReadingEndsAfterTheLinesBeforeTheEnd) {
    const struct {
        const char* why;
        std::string wire;
        size_t chunk;
        bool serverCloses;
        std::string expected; // the lines handled, "|" after each
        std::string endedWith;
    } cases[] = {
        {"a line over 16384 bytes, after the lines before it; the link stays open",
         Lines({"A 1", "B 2", std::string(16385, 'x'), "C 3"}), 0, false, "A 1|B 2|",
         "Max line length exceeded."},
        {"an unterminated run over 16384 bytes", "A 1\r\n" + std::string(20000, 'y'), 0, false,
         "A 1|", "Max line length exceeded."},
        {"a server close, after every complete line it sent", kFour, 0, true, "A 1|B 2|C 3|D 4|",
         "Connection Closed Gracefully."},
        {"a handler's exception (on B), with the next lines in the same hand-off", kFour, 0, false,
         "A 1|B 2|", "handler failed"},
        {"a handler's exception (on B), with the next lines arriving later", kFour, 4, false,
         "A 1|B 2|", "handler failed"},
        {"a handler's exception on the last line, the server quiet after it", Lines({"A 1", "B 2"}),
         0, false, "A 1|B 2|", "handler failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer peer;
        irc = Aimed(peer);
        std::string handled;
        irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool&) {
            handled += received.back() + "|";
            if (received.back() == "B 2" && c.endedWith == "handler failed") {
                throw std::runtime_error("handler failed");
            }
        };
        irc->Connect();
        peer.Send(c.wire, c.chunk, c.chunk == 0 ? 0ms : 1ms);
        if (c.serverCloses) {
            peer.Close();
        }
        ASSERT_TRUE(PumpUntilReaderEnded());
        EXPECT_EQ(handled, c.expected);
        EXPECT_EQ(irc->ReadThreadEndedWith(), c.endedWith);
        EXPECT_EQ(irc->Connected(), !c.serverCloses);
        EXPECT_EQ(irc->State(), csConnected);
        TestSupport::Watchdog watchdog("Disconnect after the reader ended");
        irc->Disconnect(true);
        EXPECT_EQ(irc->State(), csDisconnected);
    }
}

// Once the component has let go of the reader, no further line of its batch is handled:
// neither after a disconnect, nor after a reconnect from inside a handler, whose new session
// must not see the old one's lines.
TEST_F(IRCReader, NoLineIsHandledAfterTheComponentLetGoOfTheReader) {
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect ? "a reconnect from a handler" : "a disconnect from a handler");
        LoopbackServer peer, later;
        irc = Aimed(peer);
        irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool&) {
            if (received.back() == "B 2") {
                irc->SetPort(later.Port());
                reconnect ? irc->Connect() : irc->Disconnect(true);
            }
        };
        irc->Connect();
        peer.Send(kFour);
        if (reconnect) {
            ASSERT_TRUE(Pump([&] { return received.size() >= 2; }));
            ASSERT_TRUE(later.WaitForReceived(":Real name\r\n"));
            later.Send(Lines({"NEW 1"}));
            ASSERT_TRUE(PumpUntilReceived(3));
            EXPECT_EQ(received, (std::vector<std::string>{"A 1", "B 2", "NEW 1"}));
        } else {
            // Once the reader has ended, nothing more can arrive; nor is a line handed over
            // now handled.
            ASSERT_TRUE(PumpUntilReaderEnded());
            irc->HandleReceivedLine("PING :x");
            EXPECT_EQ(received, (std::vector<std::string>{"A 1", "B 2"}));
        }
    }
}

// The window closed while the reader waits in a hand-off that has not run yet, or from inside
// a line's handling (a nested event loop in a handler): the destruction neither waits forever
// nor leaves anything freed for the reader or the rest of the batch to touch.
TEST_F(IRCReader, DestroyingWhileTheReaderIsBlockedInAHandOff) {
    for (const bool fromHandler : {false, true}) {
        SCOPED_TRACE(fromHandler ? "from inside the running hand-off" : "with a hand-off pending");
        LoopbackServer peer;
        irc = Aimed(peer);
        irc->OnRaw = [&](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool&) {
            ASSERT_NE(irc, nullptr);
            if (fromHandler && received.back() == "B 2") {
                TestSupport::Watchdog watchdog("destroying the component from its handler");
                irc.reset();
            }
        };
        irc->Connect();
        peer.Send(kFour);
        if (fromHandler) {
            ASSERT_TRUE(Pump([&] { return irc == nullptr; }));
            EXPECT_EQ(received, (std::vector<std::string>{"A 1", "B 2"}));
        } else {
            ASSERT_TRUE(TestSupport::WaitUntil([] { return Queue().PendingCount() == 1; }));
            TestSupport::Watchdog watchdog("destroying the component");
            irc.reset();
            EXPECT_TRUE(received.empty()); // the hand-off was failed, not run
        }
        EXPECT_EQ(Queue().PendingCount(), 0u);
    }
}

// A handler that raises while the component is destroyed must not leave the reader blocked
// on an open socket, with the destruction waiting for it.
TEST_F(IRCReader, DestroyingWithAFailingDisconnectHandler) {
    CreateAndConnect();
    // A line handled first: the reader is then back in its read, blocked.
    server.Send("A 1\r\n");
    ASSERT_TRUE(PumpUntilReceived(1));
    irc->OnDisconnect = [](TIdComponent*) { throw std::runtime_error("handler failed"); };
    TestSupport::Watchdog watchdog("destroying with a failing OnDisconnect");
    irc.reset();
}

// Destruction right after the server closed, at whatever point the reader then is (reading
// the rest, in a hand-off, ending): repeated to meet several of those points.
TEST_F(IRCReader, DestroyingRightAfterAServerClose) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        LoopbackServer peer;
        irc = Aimed(peer);
        irc->Connect();
        peer.Send(kFour).Close();
        ASSERT_TRUE(peer.WaitScriptDone());
        if (round % 2 == 1) {
            std::this_thread::yield();
            Queue().ProcessPending();
        }
        TestSupport::Watchdog watchdog("destroying after a server close");
        irc.reset();
    }
}
