// What the outbound commands send: the templates, and the fate of CR, LF and NUL inside a line.
// (The cut of long texts is shown against a real server, in IRCServerEventsTest.)
#include "IRCFixture.h"

namespace {

using IRCSend = IRCFixture;

// What OnSend reported while ASend ran, "|" before each line.
std::string SentBy(IRCFixture& AFixture, const std::function<void(TIdIRC&)>& ASend) {
    AFixture.log.Lines.clear();
    ASend(*AFixture.irc);
    std::string sent;
    for (const std::string& line : AFixture.log.Lines) {
        sent += "|" + line.substr(std::string("Sent ").size());
    }
    return sent;
}

} // namespace

TEST_F(IRCSend, CommandsSendTheirTemplatesAndNoLineBreakGoesOut) {
    const struct {
        const char* why;
        std::function<void(TIdIRC&)> send;
        std::string expected; // "|" between lines
    } cases[] = {
        {"an empty text still goes; a key's blank only with a key; a bare mode ends in a blank",
         [](TIdIRC& c) {
             c.Say("#c", "");
             c.Join("#c");
             c.Join("#c", "k");
             c.Mode("#c", "");
         },
         "PRIVMSG #c :|JOIN #c|JOIN #c k|MODE #c "},
        {"a query's command is upper-cased, a reply's kept; an action is a query",
         [](TIdIRC& c) {
             c.CTCPQuery("bob", "version", "");
             c.CTCPReply("bob", "version", "Brisal");
             c.Action("#c", "waves");
         },
         "PRIVMSG bob :\001VERSION \001|NOTICE bob :\001version Brisal\001|"
         "PRIVMSG #c :\001ACTION waves\001"},
        {"each line of a text becomes a message of its own",
         [](TIdIRC& c) { c.Say("#c", "one\ntwo\r\nthree\rfour"); },
         "PRIVMSG #c :one|PRIVMSG #c :two|PRIVMSG #c :three|PRIVMSG #c :four"},
        {"an action over two lines keeps its framing on each; a trailing break sends nothing",
         [](TIdIRC& c) { c.Action("#c", "waves\r\nbows\r\n"); },
         "PRIVMSG #c :\001ACTION waves\001|PRIVMSG #c :\001ACTION bows\001"},
        {"NUL cannot travel in a line and is dropped",
         [](TIdIRC& c) { c.Say("#c", std::string("a\0b", 3)); }, "PRIVMSG #c :ab"},
        {"a raw line keeps its command for every line of its text",
         [](TIdIRC& c) { c.SendLine("PRIVMSG #c :x\r\nJOIN #evil"); },
         "PRIVMSG #c :x|PRIVMSG #c :JOIN #evil"},
        {"a break before the text cannot start a command: it becomes a blank",
         [](TIdIRC& c) { c.SendLine("JOIN #c\r\nQUIT"); }, "JOIN #c QUIT"},
        {"a raw line of nothing but breaks sends its command once",
         [](TIdIRC& c) { c.SendLine("PRIVMSG #c :\r\n\r\n"); }, "PRIVMSG #c :"},
    };
    Start("");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(SentBy(*this, c.send), "|" + c.expected);
    }
}
