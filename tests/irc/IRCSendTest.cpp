// What the outbound commands put on the wire: the templates, the fate of CR, LF and NUL
// inside a line, and the cut of long texts so that no relayed line exceeds 512 bytes.
#include "IRCFixture.h"

#include "IdIRCLines.h"

namespace {

using IRCSend = IRCFixture;

// Runs ASend on a client connected to a fresh server; returns the lines the server received
// after the registration, "|" before each, and what OnSend reported the same way.
std::pair<std::string, std::string> SentBy(IRCFixture& AFixture, const std::string& ANick,
                                           const std::function<void(TIdIRC&)>& ASend) {
    LoopbackServer peer;
    std::unique_ptr<TIdIRC> client = AFixture.Aimed(peer);
    client->SetNick(ANick);
    client->Connect();
    std::string reported;
    client->OnSend = [&](TIdIRC*, const std::string& ALine) { reported += "|" + ALine; };
    ASend(*client);
    client->OnSend = nullptr;
    client->SendLine("END");
    EXPECT_TRUE(peer.WaitForReceived("\r\nEND\r\n"));
    std::string wire = peer.Received();
    wire = wire.substr(wire.find(":Real name\r\n") + 10);
    wire.resize(wire.size() - 7);
    for (size_t at; (at = wire.find("\r\n")) != std::string::npos;) {
        wire.replace(at, 2, "|");
    }
    return {wire, reported};
}

} // namespace

TEST_F(IRCSend, CommandsSendTheirTemplatesAndNoLineBreakReachesTheWire) {
    const struct {
        const char* why;
        std::function<void(TIdIRC&)> send;
        std::string expected; // "|" between lines
    } cases[] = {
        {"an empty text still sends its message", [](TIdIRC& c) { c.Say("#c", ""); },
         "PRIVMSG #c :"},
        {"a join has a key's blank only with a key",
         [](TIdIRC& c) {
             c.Join("#c");
             c.Join("#c", "k");
         },
         "JOIN #c|JOIN #c k"},
        {"a mode without arguments ends in a blank",
         [](TIdIRC& c) {
             c.Mode("#c", "");
             c.Mode("#c", "+o", "bob");
         },
         "MODE #c |MODE #c +o bob"},
        {"a query's command is upper-cased, a reply's kept; an action is a query",
         [](TIdIRC& c) {
             c.CTCPQuery("bob", "version", "");
             c.CTCPReply("bob", "version", "Brisal");
             c.Action("#c", "waves");
         },
         "PRIVMSG bob :\x01VERSION \x01|NOTICE bob :\x01version Brisal\x01|"
         "PRIVMSG #c :\x01"
         "ACTION waves\x01"},
        {"each line of a text becomes a message of its own",
         [](TIdIRC& c) { c.Say("#c", "one\ntwo\r\nthree\rfour"); },
         "PRIVMSG #c :one|PRIVMSG #c :two|PRIVMSG #c :three|PRIVMSG #c :four"},
        {"a trailing line break (a game's command file) sends no empty message",
         [](TIdIRC& c) { c.Notice("#c", "hello\r\n"); }, "NOTICE #c :hello"},
        {"an action over two lines keeps its framing on each",
         [](TIdIRC& c) { c.Action("#c", "waves\r\nbows\r\n"); },
         "PRIVMSG #c :\x01"
         "ACTION waves\x01|PRIVMSG #c :\x01"
         "ACTION bows\x01"},
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto [wire, reported] = SentBy(*this, "Nick", c.send);
        EXPECT_EQ(wire, "|" + c.expected);
        EXPECT_EQ(reported, "|" + c.expected); // OnSend sees each line as written
    }
}

// A long text is cut so that every line, as the server relays it to others with the sender's
// full nick!user@host in front, fits 512 bytes; no UTF-8 sequence is cut, an action keeps its
// framing on every piece, and the pieces put together are the whole text.
TEST_F(IRCSend, LongTextsAreCutToFitTheRelayedLineLimit) {
    std::string utf8;
    while (utf8.size() < 1500) {
        utf8 += "h\xC3\xA9l\xE2\x82\xAC\xF0\x9F\x98\x80 "; // 1-, 2-, 3- and 4-byte sequences
    }
    const std::string say = "PRIVMSG #chan :";
    const struct {
        const char* why;
        bool action;
        std::string nick;
        std::string text;
        size_t lines;
    } cases[] = {
        {"plain ASCII, a short nick", false, "Nick", std::string(1200, 'a'), 3},
        {"UTF-8 of every length, a long nick", false, "Rivozuzove_", utf8, 4},
        {"an action", true, "Nick", utf8, 4},
        {"a text that only just fits is not cut", false, "Nick",
         std::string(510 - IdIRCLines::RelayPrefixLength(4) - say.size(), 'b'), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string wire =
            SentBy(*this, c.nick, [&](TIdIRC& client) {
                c.action ? client.Action("#chan", c.text) : client.Say("#chan", c.text);
            }).first;
        const std::string prefix = c.action ? say + "\x01" + "ACTION " : say;
        const std::string suffix = c.action ? "\x01" : "";
        // The worst relay prefix: ":" nick "!" 10-byte user "@" 63-byte host " ".
        const size_t relay = 1 + c.nick.size() + 1 + 10 + 1 + 63 + 1;
        std::string whole;
        size_t lines = 0;
        for (size_t at = 1; at < wire.size(); ++lines) {
            const size_t end = std::min(wire.find('|', at), wire.size());
            const std::string line = wire.substr(at, end - at);
            at = end + 1;
            ASSERT_TRUE(line.starts_with(prefix) && line.ends_with(suffix)) << line;
            EXPECT_LE(relay + line.size() + 2, 512u);
            const std::string piece =
                line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
            // In UTF-8 text a cut inside a sequence starts the next piece with a continuation.
            EXPECT_NE(static_cast<unsigned char>(piece.at(0)) & 0xC0, 0x80);
            whole += piece;
        }
        EXPECT_EQ(whole, c.text);
        EXPECT_EQ(lines, c.lines);
    }
}
