// The line tokenizer: one table, run through one set of fields so that every row also shows
// that nothing of the row before survives.
#include "IdIRCTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TokenizerCase {
    const char* why;
    std::string line;
    std::string nick, address, command, content;
    std::vector<std::string> slots; // slots 0 .. n-1; every later slot must be empty
};

std::string Words(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) {
        text += (i == from ? "p" : " p") + std::to_string(i);
    }
    return text;
}

std::vector<std::string> WordSlots(const std::string& command, int count, std::string last) {
    std::vector<std::string> slots{"", command};
    for (int i = 1; i < count; ++i) {
        slots.push_back("p" + std::to_string(i));
    }
    slots.push_back(std::move(last));
    return slots;
}

const std::string x600(600, 'x'), x512(512, 'x'), a600(600, 'a'), a512(512, 'a'), y511(511, 'y');

const TokenizerCase cases[] = {
    {"a user's prefix splits at the first '!'; the trailing parameter keeps its blanks",
     ":nick!user@host PRIVMSG #chan :hello there",
     "nick",
     "user@host",
     "PRIVMSG",
     "#chan :hello there",
     {"nick!user@host", "PRIVMSG", "#chan", "hello there"}},
    {"29 parameters: the last slot takes the 28th and 29th together, nothing written beyond",
     "CMD " + Words(1, 29), "", "", "CMD", Words(1, 29), WordSlots("CMD", 28, "p28 p29")},
    {"the short line after a long one leaves every higher slot empty",
     "PING :12345",
     "",
     "",
     "PING",
     ":12345",
     {"", "PING", "12345"}},
    {"a server prefix has no '!': no nick, the whole prefix is the address",
     ":server 001 me :Welcome",
     "",
     "server",
     "001",
     "me :Welcome",
     {"server", "001", "me", "Welcome"}},
    {"a command alone has no content and no parameters", "PING", "", "", "PING", "", {"", "PING"}},
    {"two blanks in a row give an empty parameter between them",
     "MODE #c  +o x",
     "",
     "",
     "MODE",
     "#c  +o x",
     {"", "MODE", "#c", "", "+o", "x"}},
    {"one blank at the end adds no parameter",
     "MODE #c +o ",
     "",
     "",
     "MODE",
     "#c +o ",
     {"", "MODE", "#c", "+o"}},
    {"a leading blank gives an empty command; the first word is parameter 1",
     " foo bar",
     "",
     "",
     "",
     "foo bar",
     {"", "", "foo", "bar"}},
    {"':' without a blank is no prefix: the whole line is the command",
     ":server",
     "",
     "",
     ":server",
     "",
     {"", ":server"}},
    {"':' inside a middle parameter belongs to it; a tab is part of a word",
     "CMD a:b c\td :e f",
     "",
     "",
     "CMD",
     "a:b c\td :e f",
     {"", "CMD", "a:b", "c\td", "e f"}},
    {"the trailing parameter may itself start with ':' or be empty",
     "PRIVMSG #c ::-) hi",
     "",
     "",
     "PRIVMSG",
     "#c ::-) hi",
     {"", "PRIVMSG", "#c", ":-) hi"}},
    {"an empty trailing parameter fills its slot with nothing",
     "TOPIC #c :",
     "",
     "",
     "TOPIC",
     "#c :",
     {"", "TOPIC", "#c", ""}},
    {"only the first '!' splits the prefix", ":a!b!c X", "a", "b!c", "X", "", {"a!b!c", "X"}},
    {"exactly 28 parameters fill the slots the normal way", "CMD " + Words(1, 28), "", "", "CMD",
     Words(1, 28), WordSlots("CMD", 28, "p28")},
    {"28 parameters and a blank at the end: still no joining", "CMD " + Words(1, 28) + " ", "", "",
     "CMD", Words(1, 28) + " ", WordSlots("CMD", 28, "p28")},
    {"a trailing parameter in the last slot loses its colon as anywhere else",
     "CMD " + Words(1, 27) + " :t u", "", "", "CMD", Words(1, 27) + " :t u",
     WordSlots("CMD", 28, "t u")},
    {"40 parameters: the last slot keeps all the words from the 28th on", "CMD " + Words(1, 40), "",
     "", "CMD", Words(1, 40), WordSlots("CMD", 28, Words(28, 40))},
    {"what follows the command is cut to 512 characters",
     "CMD " + x600,
     "",
     "",
     "CMD",
     x512,
     {"", "CMD", x512}},
    {"the address after '!' is cut to 512, the prefix slot is not",
     ":n!" + a600 + " CMD",
     "n",
     a512,
     "CMD",
     "",
     {"n!" + a600, "CMD"}},
    {"the cut after the command drops what lies beyond 512, even a whole parameter",
     "CMD " + y511 + " z",
     "",
     "",
     "CMD",
     y511 + " ",
     {"", "CMD", y511}},
};

} // namespace

TEST(TokenizeIRCLine, FillsSenderCommandContentAndEverySlot) {
    TIdIRCLineTokens out;
    for (const TokenizerCase& c : cases) {
        SCOPED_TRACE(c.why);
        TokenizeIRCLine(c.line, out);
        EXPECT_EQ(c.nick, out.SenderNick);
        EXPECT_EQ(c.address, out.SenderAddress);
        EXPECT_EQ(c.command, out.Command);
        EXPECT_EQ(c.content, out.Content);
        for (size_t slot = 0; slot < TokenCount; ++slot) {
            const std::string expected = slot < c.slots.size() ? c.slots[slot] : "";
            EXPECT_EQ(expected, out.Tokens[slot]) << "slot " << slot;
        }
    }
}
