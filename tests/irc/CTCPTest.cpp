#include "IdIRCCTCP.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace Id;
using namespace std::string_literals;

TEST(CTCP, SplitsCommandAndArgumentsDroppingTheLastCharacter) {
    struct Case {
        const char* why;
        std::string text;
        std::string command;
        std::string arguments;
    };
    const Case cases[] = {
        {"a query without arguments", "\x01VERSION\x01", "VERSION", ""},
        {"arguments after the first blank", "\x01PING 12345\x01", "PING", "12345"},
        {"further blanks belong to the arguments",
         "\x01"
         "ACTION waves at  all\x01",
         "ACTION", "waves at  all"},
        {"no closing byte: the last character is lost", "\x01VERSION", "VERSIO", ""},
        {"no closing byte after arguments", "\x01PING 123", "PING", "12"},
        {"a blank just before the closing byte", "\x01VERSION \x01", "VERSION", ""},
        {"a blank as the last character", "\x01VERSION ", "VERSION", ""},
        {"text after a closing byte stays in the arguments",
         "\x01"
         "ACTION a\x01 b\x01",
         "ACTION", "a\x01 b"},
        {"the opening byte alone", "\x01", "", ""},
        {"opening and closing byte", "\x01\x01", "", ""},
        {"a blank between them", "\x01 \x01", "", ""},
        {"empty", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const TIdIRCCTCPRequest request = SplitCTCP(c.text);
        EXPECT_EQ(request.Command, c.command);
        EXPECT_EQ(request.Arguments, c.arguments);
    }
}

TEST(CTCP, AnswersOnlyTheStandardQueriesWithOneLine) {
    const TIdIRCReplyTexts texts{"at the keyboard", "Vozorur2.3", "", "Vozorur2.3 client"};
    std::tm now{};
    now.tm_year = 2026 - 1900;
    now.tm_mon = 11;
    now.tm_mday = 7;
    now.tm_hour = 9;
    now.tm_min = 5;
    now.tm_sec = 3;
    struct Case {
        const char* why;
        std::string command;
        std::string arguments;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {"PING echoes its arguments", "PING", "12345", "12345"},
        {"PING without arguments echoes nothing", "PING", "", ""},
        {"a CR in PING arguments would end the NOTICE and start a command", "PING",
         "1\rQUIT :flooded", "1"},
        {"so would an LF", "PING", "1\nQUIT", "1"},
        {"and a NUL ends the text for many servers", "PING", "1\0QUIT"s, "1"},
        {"FINGER", "FINGER", "", "at the keyboard"},
        {"an empty USERINFO is still answered", "USERINFO", "ignored", ""},
        {"VERSION", "VERSION", "", "Vozorur2.3"},
        {"CLIENTINFO", "CLIENTINFO", "", "Vozorur2.3 client"},
        {"TIME in the locale's short date and long time", "TIME", "",
         "Local time is 12/07/26 09:05:03"},
        {"ACTION is shown, not answered", "ACTION", "waves", std::nullopt},
        {"SOUND", "SOUND", "x.wav", std::nullopt},
        {"ERROR", "ERROR", "", std::nullopt},
        {"DCC is decoded, not answered", "DCC", "CHAT chat 1 2", std::nullopt},
        {"commands are case-sensitive", "version", "", std::nullopt},
        {"an unknown command", "SOURCE", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CTCPAnswer(c.command, c.arguments, texts, now), c.answer);
    }
    const TIdIRCReplyTexts twoLines{"", "Vozorur2.3\r\nQUIT :bye", "", ""};
    EXPECT_EQ(CTCPAnswer("VERSION", "", twoLines, now), "Vozorur2.3");
}

namespace {

std::string Describe(const std::optional<TIdIRCDCCOffer>& AOffer) {
    if (!AOffer) {
        return "dropped";
    }
    const char* kinds[] = {"SEND", "CHAT", "RESUME", "ACCEPT"};
    return std::string(kinds[AOffer->Kind]) + " file=" + AOffer->FileName + " ip=" + AOffer->Ip +
           " port=" + AOffer->Port + " size=" + AOffer->FileSize + " pos=" + AOffer->Position;
}

} // namespace

TEST(CTCP, DecodesDCCOffersWithoutReadingPastTheirFields) {
    const std::string blanks(100000, ' ');
    struct Case {
        const char* why;
        std::string arguments;
        std::string offer;
    };
    const Case cases[] = {
        {"a file offer", "SEND a.txt 127 500 100", "SEND file=a.txt ip=127 port=500 size=100 pos="},
        {"a file offer without its size, as old clients send it", "SEND a.txt 2130706433 500",
         "SEND file=a.txt ip=2130706433 port=500 size= pos="},
        {"a file offer without its port", "SEND a.txt 127", "dropped"},
        {"a file offer with only a file name", "SEND a.txt", "dropped"},
        {"the kind alone", "SEND", "dropped"},
        {"a chat offer; the protocol word is not passed", "CHAT chat 2130706433 5000",
         "CHAT file= ip=2130706433 port=5000 size= pos="},
        {"a chat offer without its port", "CHAT chat 2130706433", "dropped"},
        {"a resume request", "RESUME a.txt 5000 1024",
         "RESUME file=a.txt ip= port=5000 size= pos=1024"},
        {"an accepted resume", "ACCEPT a.txt 5000 1024",
         "ACCEPT file=a.txt ip= port=5000 size= pos=1024"},
        {"an accept without its position", "ACCEPT a.txt 5000", "dropped"},
        {"numbers far beyond 64 bits stay text",
         "SEND a.txt 99999999999999999999 70000 18446744073709551616",
         "SEND file=a.txt ip=99999999999999999999 port=70000 size=18446744073709551616 pos="},
        {"fields after the last one read are ignored", "RESUME a.txt 5000 1024 extra more",
         "RESUME file=a.txt ip= port=5000 size= pos=1024"},
        {"no quoting: a blank in a file name shifts the fields", "SEND my file.txt 127 500",
         "SEND file=my ip=file.txt port=127 size=500 pos="},
        {"two blanks in a row leave the address empty", "SEND a.txt  127 500", "dropped"},
        {"an empty chat protocol word is not read", "CHAT  2130706433 5000",
         "CHAT file= ip=2130706433 port=5000 size= pos="},
        {"a trailing blank gives an empty size", "SEND a.txt 127 500 ",
         "SEND file=a.txt ip=127 port=500 size= pos="},
        {"a hundred thousand blanks after the kind", "SEND" + blanks, "dropped"},
        {"a hundred thousand blanks after a whole offer", "SEND a 1 2" + blanks + "x",
         "SEND file=a ip=1 port=2 size= pos="},
        {"kinds are case-sensitive", "send a.txt 127 500 100", "dropped"},
        {"an unknown kind", "GET a.txt 127 500", "dropped"},
        {"nothing at all", "", "dropped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Describe(DecodeDCC(c.arguments)), c.offer);
    }
}

TEST(CTCP, AnOfferWithoutItsClosingByteLosesTheLastCharacterOfItsLastField) {
    const TIdIRCCTCPRequest request = SplitCTCP("\x01"
                                                "DCC SEND a.txt 127 500 100");
    ASSERT_EQ(CTCPIndex(request.Command), ctcpDCC);
    EXPECT_EQ(Describe(DecodeDCC(request.Arguments)),
              "SEND file=a.txt ip=127 port=500 size=10 pos=");
}

TEST(CTCP, CommandAndDCCWordsAreFoundExactly) {
    struct Case {
        const char* why;
        std::string word;
        int ctcp;
        int dcc;
    };
    const Case cases[] = {
        {"first of the table", "ACTION", ctcpAction, -1},
        {"last of the table", "DCC", ctcpDCC, -1},
        {"time", "TIME", ctcpTime, -1},
        {"DCC words are not CTCP commands", "SEND", -1, dccSend},
        {"last DCC word", "ACCEPT", -1, dccAccept},
        {"a prefix of a command", "PIN", -1, -1},
        {"a command with more after it", "PINGS", -1, -1},
        {"lower case", "ping", -1, -1},
        {"empty", "", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CTCPIndex(c.word), c.ctcp);
        EXPECT_EQ(DCCIndex(c.word), c.dcc);
    }
}
