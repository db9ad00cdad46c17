#include "IdRFCReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(RFCReply, ParseResponseTakesCodeFromFirstLineAndTextFromFifthCharacter) {
    struct Case {
        const char* why;
        Lines lines;
        std::string textCode;
        int numericCode;
        Lines text;
    };
    const Case cases[] = {
        {"single line", {"250 OK"}, "250", 250, {"OK"}},
        {"continued reply", {"250-OK", "250 HELP"}, "250", 250, {"OK", "HELP"}},
        {"bare code", {"220"}, "220", 220, {""}},
        {"code and blank only", {"220 "}, "220", 220, {""}},
        {"leading blanks", {"  42 x"}, "42", 42, {" x"}},
        {"not a number", {"abc hello"}, "abc", 0, {"hello"}},
        {"dash kept when short", {"25- x"}, "25-", 0, {"x"}},
        {"four-character code", {"2500 x"}, "2500", 2500, {" x"}},
        {"empty first line", {""}, "", 0, {""}},
        {"later short line", {"250-a", "25"}, "250", 250, {"a", ""}},
        {"no lines clears", {}, "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TIdRFCReply reply;
        reply.SetNumericCode(999);
        reply.Text().push_back("stale");
        reply.ParseResponse(c.lines);
        EXPECT_EQ(reply.TextCode(), c.textCode);
        EXPECT_EQ(reply.NumericCode(), c.numericCode);
        EXPECT_EQ(reply.Text(), c.text);
    }
}

TEST(RFCReply, ReplyErrorCarriesCodeAndEachLineWithCRLF) {
    TIdRFCReply reply;
    reply.ParseResponse({"550-No such file", "550 Try again"});
    const EIdProtocolReplyError error = reply.ReplyError();
    EXPECT_EQ(error.ReplyErrorCode(), 550);
    EXPECT_STREQ(error.what(), "No such file\r\nTry again\r\n");
    EXPECT_STREQ(TIdRFCReply().ReplyError().what(), "");
}
