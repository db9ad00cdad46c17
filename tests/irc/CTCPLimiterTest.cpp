#include "IdIRCCTCPLimiter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct FakeClock {
    Clock::time_point Now{};
    TIdIRCCTCPLimiter::TClock Function() {
        return [this] { return Now; };
    }
};

struct Step {
    int AtMs;
    std::string Sender;
    bool Answered;
};

} // namespace

TEST(CTCPLimiter, AnswersOnceEveryTwoSecondsPerSenderAndOnceASecondOverall) {
    struct Case {
        const char* why;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"one sender: not before two seconds, exactly at two",
         {{0, "ann", true}, {1999, "ann", false}, {2000, "ann", true}, {4000, "ann", true}}},
        {"dropped queries do not push the sender's window back",
         {{0, "ann", true}, {1000, "ann", false}, {1999, "ann", false}, {2000, "ann", true}}},
        {"another sender waits a second, not two",
         {{0, "ann", true}, {999, "bob", false}, {1000, "bob", true}, {2000, "ann", true}}},
        {"the overall second counts from the last answer, whoever it went to",
         {{0, "ann", true}, {1000, "bob", true}, {1500, "cid", false}, {2000, "cid", true}}},
        {"nick case does not make a new sender",
         {{0, "Ann", true}, {1000, "ANN", false}, {2000, "aNN", true}}},
        {"a burst from many senders gets one answer a second",
         {{0, "s1", true},
          {0, "s2", false},
          {10, "s3", false},
          {1000, "s4", true},
          {1000, "s5", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeClock clock;
        TIdIRCCTCPLimiter limiter(clock.Function());
        for (const Step& step : c.steps) {
            SCOPED_TRACE(std::to_string(step.AtMs) + " ms, " + step.Sender);
            clock.Now = Clock::time_point(std::chrono::milliseconds(step.AtMs));
            EXPECT_EQ(limiter.Allow(step.Sender), step.Answered);
        }
    }
}

TEST(CTCPLimiter, ForgetsSendersSoMemoryStaysBounded) {
    FakeClock clock;
    TIdIRCCTCPLimiter limiter(clock.Function());
    int answered = 0;
    for (int i = 0; i < 100000; ++i) {
        clock.Now = Clock::time_point(std::chrono::milliseconds(i * 100));
        answered += limiter.Allow("nick" + std::to_string(i)) ? 1 : 0;
        ASSERT_LE(limiter.Remembered(), 2u) << i;
    }
    EXPECT_EQ(answered, 10000); // one every ten queries: one a second
}
