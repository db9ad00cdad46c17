// Against a real IRC server: what another client receives of long messages.
#include "IRCFixture.h"
#include "NgircdServer.h"

#include <algorithm>

namespace {

using IRCServer = IRCFixture;

// A client registered with the server: it has seen the welcome reply.
std::unique_ptr<TIdIRC> Registered(int APort, const std::string& ANick,
                                   std::vector<std::string>& VLines) {
    auto client = std::make_unique<TIdIRC>();
    client->SetHost(LoopbackServer::Host());
    client->SetPort(APort);
    client->SetNick(ANick);
    client->SetSendInterval(0); // nothing here drives a send queue
    client->OnReceive = [&VLines](TIdIRC*, const std::string& ALine) { VLines.push_back(ALine); };
    client->Connect();
    const bool welcomed = TIdMainThreadQueue::Instance().ProcessPendingUntil(
        [&] {
            return std::any_of(VLines.begin(), VLines.end(), [](const std::string& ALine) {
                return ALine.find(" 001 ") != std::string::npos;
            });
        },
        int(TestSupport::HangLimit.count()));
    return welcomed ? std::move(client) : nullptr;
}

// The text of the PRIVMSGs to ANick in ALines, put together.
std::string Relayed(const std::vector<std::string>& ALines, const std::string& ANick) {
    std::string text;
    for (const std::string& line : ALines) {
        const std::string marker = " PRIVMSG " + ANick + " :";
        const size_t at = line.find(marker);
        if (at != std::string::npos) {
            text += line.substr(at + marker.size());
        }
    }
    return text;
}

} // namespace

// Issue 17's long line: sent in one piece it makes the server drop the client; cut, it reaches
// the other client whole, however the UTF-8 falls.
TEST_F(IRCServer, LongMessagesReachAnotherClientWhole) {
    NgircdConfig config;
    config.FloodPenalty = false;
    NgircdServer ngircd(config);
    // No blanks: the server drops blanks at the end of a line, which would make the pieces put
    // together differ from the text wherever a cut followed a blank.
    std::string text;
    while (text.size() < 1400) {
        text += "caf\xC3\xA9\xE2\x82\xAC" + std::to_string(text.size()) + "-";
    }
    struct Case {
        const char* why;
        bool action;
        std::string expected;
    };
    const Case cases[] = {
        {"a message", false, text},
        {"an action: each piece framed", true, ""},
    };
    std::vector<std::string> aliceLines, bobLines;
    auto alice = Registered(ngircd.Port(), "Rivozuzov", aliceLines);
    auto bob = Registered(ngircd.Port(), "bob", bobLines);
    ASSERT_TRUE(alice && bob);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        bobLines.clear();
        if (c.action) {
            alice->Action("bob", text);
        } else {
            alice->Say("bob", text);
        }
        alice->Say("bob", "END");
        ASSERT_TRUE(Pump([&] { return Relayed(bobLines, "bob").ends_with("END"); }))
            << "received: " << Relayed(bobLines, "bob").size() << " bytes";
        std::string relayed = Relayed(bobLines, "bob");
        relayed.resize(relayed.size() - 3);
        if (c.action) {
            std::string unframed;
            size_t pieces = 0;
            for (size_t at = 0; at < relayed.size();) {
                ASSERT_EQ(relayed.compare(at, 8,
                                          "\x01"
                                          "ACTION "),
                          0)
                    << "piece " << pieces;
                const size_t end = relayed.find('\x01', at + 8);
                ASSERT_NE(end, std::string::npos);
                unframed += relayed.substr(at + 8, end - at - 8);
                at = end + 1;
                ++pieces;
            }
            EXPECT_GE(pieces, 3u);
            relayed = unframed;
        }
        EXPECT_EQ(relayed, text);
        EXPECT_TRUE(alice->Connected());
    }
}
