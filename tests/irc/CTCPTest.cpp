#include "IdIRCCTCP.h"
#include "IdIRCCTCPLimiter.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

using namespace Id;

TEST(CTCP, AnswersOnlyTheStandardQueriesWithOneLine) {
    const TIdIRCReplyTexts texts{"at the keyboard", "Vozorur2.3\r\nQUIT :bye", "", "Vozorur2.3 c"};
    std::tm now{};
    now.tm_year = 126, now.tm_mon = 11, now.tm_mday = 7, now.tm_hour = 9, now.tm_min = 5;
    const struct {
        const char* why;
        std::string command;
        std::string arguments;
        std::optional<std::string> answer;
    } cases[] = {
        {"PING echoes its arguments", "PING", "12345", "12345"},
        {"a CR in PING arguments would end the NOTICE and start a command", "PING",
         "1\rQUIT :flooded", "1"},
        {"an empty USERINFO is still answered", "USERINFO", "ignored", ""},
        {"a set text's second line is not sent either", "VERSION", "", "Vozorur2.3"},
        {"TIME in the locale's short date and long time", "TIME", "",
         "Local time is 12/07/26 09:05:00"},
        {"DCC is decoded, not answered", "DCC", "CHAT chat 1 2", std::nullopt},
        {"commands are case-sensitive", "version", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CTCPAnswer(c.command, c.arguments, texts, now), c.answer);
    }
}

using Clock = std::chrono::steady_clock;

// Also bounds its memory: a sender leaves it once its two seconds are up.
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
