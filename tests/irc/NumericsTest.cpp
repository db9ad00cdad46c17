#include "IdIRCNumerics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Id;

TEST(Numerics, TextsReadOnlyTheParametersPresent) {
    const struct {
        const char* why;
        std::vector<std::string> slots;
        std::string text;
    } cases[] = {
        {"391: the server name first, as ngircd sends it, is skipped",
         {"irc.test", "391", "me", "irc.test", "Monday 12:00"},
         "irc.test :Monday 12:00"},
        {"391: in another case too",
         {"IRC.Test", "391", "me", "irc.TEST", "noon"},
         "IRC.Test :noon"},
        {"391 without the name: the time is P2",
         {"irc.test", "391", "me", "noon"},
         "irc.test :noon"},
        {"391: a name that only starts like the prefix is not it",
         {"irc.test", "391", "me", "irc.testing", "noon"},
         "irc.test :irc.testing"},
        {"391 with nothing after the recipient", {"irc.test", "391", "me"}, "irc.test :"},
        {"311 short of parameters: they read as empty",
         {"irc.test", "311", "me", "al"},
         "al is @  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(NumericText(FindNumeric(std::stoi(c.slots[1])), c.slots, ""), c.text);
    }
}

TEST(Numerics, OnlyPlainDecimalDigitsMakeANumericReply) {
    EXPECT_EQ(NumericCode("001"), 1);
    EXPECT_EQ(NumericCode("2147483647"), INT32_MAX);
    for (const char* command :
         {"2147483648", "99999999999999999999", "-1", "+1", "1a", " 1", "$1F", "", "PRIVMSG"}) {
        EXPECT_EQ(NumericCode(command), std::nullopt) << command;
    }
}
