// Paced sending and the watch over a silent connection, on a clock the test moves: what a
// server receives is checked against where the clock stands, never against real time. A PONG
// (which never waits) or a later line marks how far the server has read.
#include "IRCFixture.h"

#include <algorithm>
#include <chrono>

namespace {

using namespace std::chrono_literals;

class PacingTest : public IRCFixture {
protected:
    void SetUp() override {
        IRCFixture::SetUp();
        irc = Aimed(server);
        irc->SetClock([this] { return Now; });
        irc->SetSendInterval(2000);
    }
    // The PRIVMSG texts the server has read since the last call, up to the answer to a PING of
    // its own, "|" after each: the PONG passes any queued line, so this is what has been sent.
    std::string SentSince() {
        const std::string mark = "m" + std::to_string(FRead);
        server.Send("PING :" + mark + "\r\n");
        EXPECT_TRUE(Pump([&] { return server.Received().find("PONG :" + mark) != npos; }));
        std::string texts;
        const std::string all = server.Received();
        for (size_t at = all.find("PRIVMSG #c :", FRead); at != npos;
             at = all.find("PRIVMSG #c :", at)) {
            at += 12;
            texts += all.substr(at, all.find('\r', at) - at) + "|";
        }
        FRead = all.size();
        return texts;
    }
    static constexpr size_t npos = std::string::npos;
    std::chrono::steady_clock::time_point Now = std::chrono::steady_clock::time_point() + 1h;
    size_t FRead = 0; // of what the server received
};

TEST_F(PacingTest, ABurstThenOneLinePerIntervalInOrderWithinTheQueueBound) {
    irc->Connect(); // NICK and USER take two lines of the burst of five
    ASSERT_TRUE(server.WaitForReceived("USER "));
    for (int i = 0; i < 12; ++i) {
        irc->Say("#c", "l" + std::to_string(i));
    }
    EXPECT_EQ(irc->SendQueueCount(), 9u);
    EXPECT_EQ(irc->SendDelay(), 2000);
    const struct {
        const char* Why;
        std::chrono::milliseconds Advance;
        const char* Sent;
    } steps[] = {
        {"the burst's rest at once, the others wait", 0ms, "l0|l1|l2|"},
        {"one millisecond short of the interval", 1999ms, ""},
        {"the interval: exactly one more", 1ms, "l3|"},
        {"a long wait earns a burst, not one line per interval", 60s, "l4|l5|l6|l7|l8|"},
        {"credit spent: the rest still waits", 1999ms, ""},
        {"the next goes once its interval is up", 1ms, "l9|"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Why);
        Now += step.Advance;
        irc->SendDue();
        EXPECT_EQ(SentSince(), step.Sent);
    }
    EXPECT_EQ(irc->SendDelay(), 2000);

    irc->SetSendQueueLimit(3); // l10 and l11 wait: one place left
    // Two pieces, one place left: neither is queued, so no message arrives cut short.
    EXPECT_EQ(TestSupport::Raised<EIdIRCSendQueueFull>([&] {
                  irc->Say("#c", "x\ny");
              }).rfind("Too many lines are waiting to be sent (2)", 0),
              0u);
    EXPECT_EQ(irc->SendQueueCount(), 2u);
    irc->Say("#c", "q1");
    // A line never overtakes the queue, even with credit earned meanwhile.
    Now += 2s;
    EXPECT_THROW(irc->Say("#c", "q2"), EIdIRCSendQueueFull);
    irc->SendDue();
    irc->Say("#c", "q2");
    EXPECT_EQ(SentSince(), "l10|");
    irc->Disconnect(true);
    EXPECT_EQ(irc->UnsentCount(), 3u);
    EXPECT_EQ(irc->SendQueueCount(), 0u);
}

TEST_F(PacingTest, SilenceBringsAPingAndAnUnansweredOneClosesTheConnection) {
    irc->SetPingIdleTime(1000);
    irc->SetPingWaitTime(500);
    irc->SetSendBurst(50); // the marker lines below must not wait
    irc->Connect();
    const struct {
        const char* Why;
        const char* ServerSays; // before the clock moves: any line is life
        std::chrono::milliseconds Advance;
        long Pings;
    } steps[] = {
        {"just short of the idle time", ":srv 001 Nick :Welcome", 999ms, 0},
        {"idle time reached: one PING", nullptr, 1ms, 1},
        {"not repeated while it waits", nullptr, 499ms, 1},
        {"a line answers it: the idle time starts over", ":srv NOTICE Nick :hi", 999ms, 1},
        {"silent again: the next PING", nullptr, 1ms, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Why);
        if (step.ServerSays != nullptr) {
            const size_t before = received.size();
            server.Send(std::string(step.ServerSays) + "\r\n");
            ASSERT_TRUE(Pump([&] { return received.size() > before; }));
        }
        Now += step.Advance;
        irc->CheckAlive();
        // A line after the check marks how far the server has read.
        const std::string mark = "mark" + std::to_string(&step - steps);
        irc->Say("#c", mark);
        ASSERT_TRUE(Pump([&] { return server.Received().find(mark + "\r\n") != npos; }));
        const std::vector<std::string> sent = Split(server.Received(), '\n');
        EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                                [](const std::string& l) { return l.starts_with("PING :"); }),
                  step.Pings);
    }
    Now += 500ms;
    irc->CheckAlive();
    EXPECT_FALSE(irc->Connected());
    EXPECT_EQ(irc->LostReason(), "nothing from the server for 2 s, not even an answer to a PING");
    EXPECT_TRUE(server.WaitForClientClose());
}

} // namespace
