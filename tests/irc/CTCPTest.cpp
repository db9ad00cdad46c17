#include "IdIRCCTCP.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace Id;
using namespace std::string_literals;

TEST(CTCP, SplitsCommandAndArgumentsDroppingTheLastCharacter) {
    const struct {
        const char* why;
        std::string text;
        std::string split; // "command|arguments"
    } cases[] = {
        {"a query without arguments", "\x01VERSION\x01", "VERSION|"},
        {"further blanks belong to the arguments",
         "\x01"
         "ACTION waves at  all\x01",
         "ACTION|waves at  all"},
        {"no closing byte: the last character is lost", "\x01VERSION", "VERSIO|"},
        {"a blank just before the closing byte", "\x01VERSION \x01", "VERSION|"},
        {"text after a closing byte stays in the arguments",
         "\x01"
         "ACTION a\x01 b\x01",
         "ACTION|a\x01 b"},
        {"the opening byte alone", "\x01", "|"},
        {"empty", "", "|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const TIdIRCCTCPRequest request = SplitCTCP(c.text);
        EXPECT_EQ(request.Command + "|" + request.Arguments, c.split);
    }
}

TEST(CTCP, AnswersOnlyTheStandardQueriesWithOneLine) {
    const TIdIRCReplyTexts texts{"at the keyboard", "Vozorur2.3\r\nQUIT :bye", "", "Vozorur2.3 c"};
    std::tm now{};
    now.tm_year = 2026 - 1900;
    now.tm_mon = 11;
    now.tm_mday = 7;
    now.tm_hour = 9;
    now.tm_min = 5;
    now.tm_sec = 3;
    const struct {
        const char* why;
        std::string command;
        std::string arguments;
        std::optional<std::string> answer;
    } cases[] = {
        {"PING echoes its arguments", "PING", "12345", "12345"},
        {"a CR in PING arguments would end the NOTICE and start a command", "PING",
         "1\rQUIT :flooded", "1"},
        {"so would an LF", "PING", "1\nQUIT", "1"},
        {"and a NUL ends the text for many servers", "PING", "1\0QUIT"s, "1"},
        {"an empty USERINFO is still answered", "USERINFO", "ignored", ""},
        {"a set text's second line is not sent either", "VERSION", "", "Vozorur2.3"},
        {"TIME in the locale's short date and long time", "TIME", "",
         "Local time is 12/07/26 09:05:03"},
        {"ACTION is shown, not answered", "ACTION", "waves", std::nullopt},
        {"DCC is decoded, not answered", "DCC", "CHAT chat 1 2", std::nullopt},
        {"commands are case-sensitive", "version", "", std::nullopt},
        {"an unknown command", "SOURCE", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CTCPAnswer(c.command, c.arguments, texts, now), c.answer);
    }
}

TEST(CTCP, DecodesDCCOffersWithoutReadingPastTheirFields) {
    const std::string blanks(100000, ' ');
    const struct {
        const char* why;
        std::string arguments;
        std::string offer; // "kind file ip port size pos", "-" for an empty field
    } cases[] = {
        {"a file offer", "SEND a.txt 127 500 100", "SEND a.txt 127 500 100 -"},
        {"without its size, as old clients send it", "SEND a.txt 2130706433 500",
         "SEND a.txt 2130706433 500 - -"},
        {"without its port", "SEND a.txt 127", "dropped"},
        {"the kind alone", "SEND", "dropped"},
        {"a chat offer; the protocol word is not passed", "CHAT chat 2130706433 5000",
         "CHAT - 2130706433 5000 - -"},
        {"a chat offer without its port", "CHAT chat 2130706433", "dropped"},
        {"a resume request", "RESUME a.txt 5000 1024", "RESUME a.txt - 5000 - 1024"},
        {"an accepted resume", "ACCEPT a.txt 5000 1024", "ACCEPT a.txt - 5000 - 1024"},
        {"an accept without its position", "ACCEPT a.txt 5000", "dropped"},
        {"numbers far beyond 64 bits stay text", "SEND a 99999999999999999999 70000 1" + blanks,
         "SEND a 99999999999999999999 70000 1 -"},
        {"fields after the last one read are ignored", "RESUME a.txt 5000 1024 extra more",
         "RESUME a.txt - 5000 - 1024"},
        {"two blanks in a row leave the address empty", "SEND a.txt  127 500", "dropped"},
        {"an empty chat protocol word is not read", "CHAT  2130706433 5000",
         "CHAT - 2130706433 5000 - -"},
        {"a hundred thousand blanks after the kind", "SEND" + blanks, "dropped"},
        {"kinds are case-sensitive", "send a.txt 127 500 100", "dropped"},
        {"an unknown kind", "GET a.txt 127 500", "dropped"},
        {"nothing at all", "", "dropped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::optional<TIdIRCDCCOffer> offer = DecodeDCC(c.arguments);
        std::string text = "dropped";
        if (offer) {
            const char* kinds[] = {"SEND", "CHAT", "RESUME", "ACCEPT"};
            text = kinds[offer->Kind];
            for (const std::string& field :
                 {offer->FileName, offer->Ip, offer->Port, offer->FileSize, offer->Position}) {
                text += " " + (field.empty() ? "-" : field);
            }
        }
        EXPECT_EQ(text, c.offer);
    }
}
