#include "IdException.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// The texts that carry values are formatted into their fixed patterns; plain ones are
// spot-checked where a stray character would be easy to miss.
TEST(ExceptionText, FormattedTextsFillTheirPatterns) {
    const std::pair<std::string, std::string> cases[] = {
        {EIdInvalidServiceName("ircx").what(), "ircx is not a valid service."},
        {EIdCanNotBindPortInRange(5000, 5002).what(), "Can not bind in port range (5000 - 5002)"},
        {EIdInvalidPortRange(6000, 5000).what(), "Invalid Port Range (6000 - 5000)"},
        {EIdFileNotFound("a b.txt").what(), "File \"a b.txt\" not found"},
        {EIdReadTimeout().what(), "Read Timeout"}, // no trailing full stop
        {EIdNotConnected().what(), "Not Connected"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(text, expected);
    }
}

TEST(ExceptionText, ClosedGracefullyIsSilentAndCatchableAsItsBase) {
    try {
        throw EIdConnClosedGracefully();
    } catch (const EIdSilentException& e) {
        EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
}

TEST(ExceptionText, StubErrorAddsSystemTextOnlyForNonZeroCode) {
    const EIdWS2StubError plain("Error on call Winsock2 library function send", 0);
    EXPECT_STREQ(plain.what(), "Error on call Winsock2 library function send");
    EXPECT_TRUE(plain.SystemErrorMessage().empty());
    const EIdWS2StubError withCode("Error on loading Winsock2 library (WS2_32.DLL)", 2);
    EXPECT_EQ(withCode.SystemError(), 2u);
    EXPECT_FALSE(withCode.SystemErrorMessage().empty());
    EXPECT_EQ(std::string(withCode.what()),
              withCode.Title() + ": " + withCode.SystemErrorMessage());
}
