#include "IdIRCCTCPLimiter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using Clock = std::chrono::steady_clock;

TEST(CTCPLimiter, AnswersOnceEveryTwoSecondsPerSenderAndOnceASecondOverall) {
    const struct {
        const char* why;
        std::string steps; // "ms nick answered" per step
    } cases[] = {
        {"one sender: not before two seconds, exactly at two", "0 ann 1 1999 ann 0 2000 ann 1"},
        {"dropped queries do not push the window back", "0 ann 1 1000 ann 0 2000 ann 1"},
        {"another sender waits a second, not two", "0 ann 1 999 bob 0 1000 bob 1 2000 ann 1"},
        {"the overall second counts from the last answer", "0 ann 1 1000 bob 1 1500 cid 0"},
        {"nick case does not make a new sender", "0 Ann 1 1000 ANN 0 2000 aNN 1"},
        {"a burst from many senders", "0 s1 1 0 s2 0 10 s3 0 1000 s4 1 1000 s5 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Clock::time_point now;
        TIdIRCCTCPLimiter limiter([&now] { return now; });
        std::istringstream steps(c.steps);
        int ms = 0;
        std::string sender;
        bool answered = false;
        while (steps >> ms >> sender >> answered) {
            now = Clock::time_point(std::chrono::milliseconds(ms));
            EXPECT_EQ(limiter.Allow(sender), answered) << ms << " ms, " << sender;
        }
    }
}

TEST(CTCPLimiter, ForgetsSendersSoMemoryStaysBounded) {
    Clock::time_point now;
    TIdIRCCTCPLimiter limiter([&now] { return now; });
    int answered = 0;
    for (int i = 0; i < 100000; ++i) {
        now = Clock::time_point(std::chrono::milliseconds(i * 100));
        answered += limiter.Allow("nick" + std::to_string(i)) ? 1 : 0;
        ASSERT_LE(limiter.Remembered(), 2u) << i;
    }
    EXPECT_EQ(answered, 10000); // one a second
}
