#include "IdIRCNumerics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Id;

// The texts read only the parameters present; 391 skips the server's name before the time.
TEST(Numerics, TextsReadOnlyTheParametersPresent) {
    using Slots = std::vector<std::string>;
    EXPECT_EQ(NumericText(FindNumeric(391), Slots{"srv", "391", "me", "SRV", "noon"}, ""),
              "srv :noon");
    EXPECT_EQ(NumericText(FindNumeric(391), Slots{"srv", "391", "me", "noon"}, ""), "srv :noon");
    EXPECT_EQ(NumericText(FindNumeric(391), Slots{"srv", "391", "me", "srvx", "noon"}, ""),
              "srv :srvx");
    EXPECT_EQ(NumericText(FindNumeric(391), Slots{"srv", "391", "me"}, ""), "srv :");
    EXPECT_EQ(NumericText(FindNumeric(311), Slots{"srv", "311", "me", "al"}, ""), "al is @  ");
}

TEST(Numerics, OnlyPlainDecimalDigitsMakeANumericReply) {
    EXPECT_EQ(NumericCode("001"), 1);
    EXPECT_EQ(NumericCode("2147483647"), INT32_MAX);
    for (const char* command :
         {"2147483648", "99999999999999999999", "-1", "+1", "1a", " 1", "$1F", "", "PRIVMSG"}) {
        EXPECT_EQ(NumericCode(command), std::nullopt) << command;
    }
}
