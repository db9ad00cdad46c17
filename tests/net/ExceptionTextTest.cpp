#include "IdException.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// The texts that carry values are formatted into their fixed patterns.
TEST(ExceptionText, FormattedTextsFillTheirPatterns) {
    const std::pair<std::string, std::string> cases[] = {
        {EIdInvalidServiceName("ircx").what(), "ircx is not a valid service."},
        {EIdCanNotBindPortInRange(5000, 5002).what(), "Can not bind in port range (5000 - 5002)"},
        {EIdFileNotFound("a b.txt").what(), "File \"a b.txt\" not found"},
        {EIdWS2StubError("Error on call Winsock2 library function send", 0).what(),
         "Error on call Winsock2 library function send"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(text, expected);
    }
    const EIdWS2StubError withCode("Error on loading Winsock2 library (WS2_32.DLL)", 2);
    EXPECT_FALSE(withCode.SystemErrorMessage().empty());
    EXPECT_EQ(std::string(withCode.what()),
              withCode.Title() + ": " + withCode.SystemErrorMessage());
}
