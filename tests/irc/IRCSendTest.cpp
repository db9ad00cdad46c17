// What the outbound commands put on the wire: the templates, the fate of CR, LF and NUL
// inside a line, and the cut of long texts so that no relayed line exceeds 512 bytes.
#include "IRCFixture.h"

#include "IdIRCLines.h"

namespace {

using IRCSend = IRCFixture;

// Runs ASend on a client connected to a fresh server and returns the lines the server
// received after the registration, without their CR LF; VSent gets what OnSend reported.
std::vector<std::string> SentBy(IRCFixture& AFixture, const std::string& ANick,
                                const std::function<void(TIdIRC&)>& ASend,
                                std::vector<std::string>* VSent = nullptr) {
    LoopbackServer peer;
    std::unique_ptr<TIdIRC> client = AFixture.Aimed(peer);
    client->SetNick(ANick);
    client->Connect();
    client->OnSend = [VSent](TIdIRC*, const std::string& ALine) {
        if (VSent != nullptr) {
            VSent->push_back(ALine);
        }
    };
    ASend(*client);
    client->OnSend = nullptr;
    client->SendLine("END");
    EXPECT_TRUE(peer.WaitForReceived("\r\nEND\r\n"));
    const std::string wire = peer.Received();
    std::vector<std::string> lines;
    for (size_t start = wire.find(":Real name\r\n") + 12; start < wire.size();) {
        const size_t end = wire.find("\r\n", start);
        lines.push_back(wire.substr(start, end - start));
        start = end + 2;
    }
    lines.pop_back();
    return lines;
}

} // namespace

TEST_F(IRCSend, CommandsSendTheirTemplatesAndNoLineBreakReachesTheWire) {
    struct Case {
        const char* why;
        std::function<void(TIdIRC&)> send;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"an empty text still sends its message, with nothing after the colon",
         [](TIdIRC& c) { c.Say("#c", ""); },
         {"PRIVMSG #c :"}},
        {"a join without a key has no trailing blank, one with a key has it",
         [](TIdIRC& c) {
             c.Join("#c");
             c.Join("#c", "k");
         },
         {"JOIN #c", "JOIN #c k"}},
        {"a mode without arguments ends in a blank",
         [](TIdIRC& c) {
             c.Mode("#c", "");
             c.Mode("#c", "+o", "bob");
         },
         {"MODE #c ", "MODE #c +o bob"}},
        {"a query's command is upper-cased, a reply's is kept; an action is a query",
         [](TIdIRC& c) {
             c.CTCPQuery("bob", "version", "");
             c.CTCPReply("bob", "version", "Brisal");
             c.Action("#c", "waves");
         },
         {"PRIVMSG bob :\x01VERSION \x01", "NOTICE bob :\x01version Brisal\x01",
          "PRIVMSG #c :\x01"
          "ACTION waves\x01"}},
        {"each line of a text becomes a message of its own to the same target",
         [](TIdIRC& c) { c.Say("#c", "one\ntwo\r\nthree\rfour"); },
         {"PRIVMSG #c :one", "PRIVMSG #c :two", "PRIVMSG #c :three", "PRIVMSG #c :four"}},
        {"a trailing line break (a game's command file) sends no empty message",
         [](TIdIRC& c) { c.Notice("#c", "hello\r\n"); },
         {"NOTICE #c :hello"}},
        {"an action over two lines keeps its framing on each",
         [](TIdIRC& c) { c.Action("#c", "waves\r\nbows\r\n"); },
         {"PRIVMSG #c :\x01"
          "ACTION waves\x01",
          "PRIVMSG #c :\x01"
          "ACTION bows\x01"}},
        {"NUL cannot travel in a line and is dropped",
         [](TIdIRC& c) { c.Say("#c", std::string("a\0b", 3)); },
         {"PRIVMSG #c :ab"}},
        {"a raw line keeps its command for every line of its text",
         [](TIdIRC& c) { c.SendLine("PRIVMSG #c :x\r\nJOIN #evil"); },
         {"PRIVMSG #c :x", "PRIVMSG #c :JOIN #evil"}},
        {"a break before the text cannot start a command: it becomes a blank",
         [](TIdIRC& c) { c.SendLine("JOIN #c\r\nQUIT"); },
         {"JOIN #c QUIT"}},
        {"a raw line that is nothing but breaks sends its command once",
         [](TIdIRC& c) { c.SendLine("PRIVMSG #c :\r\n\r\n"); },
         {"PRIVMSG #c :"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> sent;
        EXPECT_EQ(SentBy(*this, "Nick", c.send, &sent), c.expected);
        EXPECT_EQ(sent, c.expected); // OnSend sees each line as written, without CR LF
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
    struct Case {
        const char* why;
        bool action;
        std::string nick;
        std::string text;
    };
    const Case cases[] = {
        {"plain ASCII, a short nick", false, "Nick", std::string(1200, 'a')},
        {"UTF-8 of every length, a long nick", false, "Rivozuzove_", utf8},
        {"an action", true, "Nick", utf8},
        {"a text that only just fits is not cut", false, "Nick",
         std::string(510 - IdIRCLines::RelayPrefixLength(4) - say.size(), 'b')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::vector<std::string> lines = SentBy(*this, c.nick, [&](TIdIRC& client) {
            c.action ? client.Action("#chan", c.text) : client.Say("#chan", c.text);
        });
        const std::string prefix = c.action ? say + "\x01" + "ACTION " : say;
        const std::string suffix = c.action ? "\x01" : "";
        // The worst relay prefix: ":" nick "!" 10-byte user "@" 63-byte host " ".
        const size_t relay = 1 + c.nick.size() + 1 + 10 + 1 + 63 + 1;
        std::string whole;
        for (const std::string& line : lines) {
            ASSERT_TRUE(line.starts_with(prefix) && line.ends_with(suffix)) << line;
            EXPECT_LE(relay + line.size() + 2, 512u);
            const std::string piece =
                line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
            // In UTF-8 text a cut inside a sequence starts the next piece with a continuation.
            EXPECT_NE(static_cast<unsigned char>(piece.at(0)) & 0xC0, 0x80);
            whole += piece;
        }
        EXPECT_EQ(whole, c.text);
        const size_t budget = 510 - relay - prefix.size() - suffix.size();
        EXPECT_GE(lines.size(), (c.text.size() + budget - 1) / budget);
        EXPECT_LE(lines.size(), (c.text.size() + budget - 1) / budget + 1);
    }
}
