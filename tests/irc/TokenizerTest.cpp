// The line tokenizer: one table, run through one set of fields so that every row also shows
// that nothing of the row before survives.
#include "IdIRCTokenizer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Words(int to, const char* separator = " ") {
    std::string text = "p1";
    for (int i = 2; i <= to; ++i) {
        text += separator + ("p" + std::to_string(i));
    }
    return text;
}

// The fields as "nick|address|command|content", then the slots up to the last non-empty one.
std::string Fields(const TIdIRCLineFields& AOut) {
    std::string text =
        AOut.SenderNick + "|" + AOut.SenderAddress + "|" + AOut.Command + "|" + AOut.Content + " =";
    size_t used = TokenCount;
    while (used > 0 && AOut.Tokens()[used - 1].empty()) {
        --used;
    }
    for (size_t slot = 0; slot < used; ++slot) {
        text += (slot ? "," : " ") + AOut.Tokens()[slot];
    }
    return text;
}

} // namespace

TEST(TokenizeIRCLine, FillsSenderCommandContentAndEverySlot) {
    const std::string x512(512, 'x'), w28 = Words(28), w29 = Words(29), w27 = Words(27);
    const auto slots = [](const std::string& ALast) {
        return " ,CMD," + Words(27, ",") + "," + ALast;
    };
    const struct {
        const char* why;
        std::string line;
        std::string fields;
    } cases[] = {
        {"a user's prefix splits at the first '!'; the trailing parameter keeps its blanks",
         ":nick!user@host PRIVMSG #chan :hello there",
         "nick|user@host|PRIVMSG|#chan :hello there = nick!user@host,PRIVMSG,#chan,hello there"},
        {"29 parameters: the last slot takes the 28th and 29th", "CMD " + w29,
         "||CMD|" + w29 + " =" + slots("p28 p29")},
        {"a short line after a long one leaves every higher slot empty", "PING :12345",
         "||PING|:12345 = ,PING,12345"},
        {"letters beyond ASCII are no separators, also in words long enough to be searched "
         "eight bytes at a time",
         ":Zo\xC3\xAB\xC3\xAB!us\xC3\xA9r@h\xC3\xB4te PRIVMSG #caf\xC3\xA9s-th\xC3\xA9 "
         ":\xC3\xA9t\xC3\xA9",
         "Zo\xC3\xAB\xC3\xAB|us\xC3\xA9r@h\xC3\xB4te|PRIVMSG|#caf\xC3\xA9s-th\xC3\xA9 "
         ":\xC3\xA9t\xC3\xA9 = "
         "Zo\xC3\xAB\xC3\xAB!us\xC3\xA9r@h\xC3\xB4te,PRIVMSG,#caf\xC3\xA9s-th\xC3\xA9,"
         "\xC3\xA9t\xC3\xA9"},
        {"a server prefix has no '!': the whole prefix is the address", ":server 001 me :Hi",
         "|server|001|me :Hi = server,001,me,Hi"},
        {"two blanks in a row give an empty parameter", "MODE #c  +o x",
         "||MODE|#c  +o x = ,MODE,#c,,+o,x"},
        {"one blank at the end adds no parameter", "MODE #c +o ", "||MODE|#c +o  = ,MODE,#c,+o"},
        {"':' inside a middle parameter belongs to it; a tab is part of a word",
         "CMD a:b c\td :e f", "||CMD|a:b c\td :e f = ,CMD,a:b,c\td,e f"},
        {"exactly 28 parameters and a blank: no joining", "CMD " + w28 + " ",
         "||CMD|" + w28 + "  =" + slots("p28")},
        {"a trailing parameter in the last slot loses its colon", "CMD " + w27 + " :t u",
         "||CMD|" + w27 + " :t u =" + slots("t u")},
        {"what follows the command is cut to 512 characters, a whole parameter beyond it too",
         "CMD " + x512 + " z", "||CMD|" + x512 + " = ,CMD," + x512},
    };
    TIdIRCLineFields out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        out.Reset(c.line);
        EXPECT_EQ(Fields(out), c.fields);
    }
}
