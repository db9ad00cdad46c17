// Against a real IRC server (ngircd) with real peers (ii): what the component makes of the
// lines a server and other clients actually send. One server; the steps build on each other.
#include "EventLog.h"
#include "IRCFixture.h"
#include "IiClient.h"
#include "NgircdServer.h"

#include <algorithm>

namespace {

class IRCServerEvents : public IRCFixture {
public:
    std::unique_ptr<TIdIRC> Client(uint16_t APort, const std::string& ANick,
                                   const std::string& AAlt) {
        auto client = std::make_unique<TIdIRC>();
        client->SetHost(NgircdServer::Host());
        client->SetPort(APort);
        client->SetNick(ANick);
        client->SetSendInterval(0); // nothing here drives a send queue
        client->SetAltNick(AAlt);
        client->Replies().SetVersion("Vozorur2.3");
        log.Bind(*client);
        return client;
    }
    // Waits for an event line starting with AText after the last one found.
    bool WaitFor(const std::string& AText,
                 std::chrono::milliseconds ALimit = TestSupport::HangLimit) {
        return Queue().ProcessPendingUntil(
            [&] {
                const auto found =
                    std::find_if(log.Lines.begin() + long(FSearched), log.Lines.end(),
                                 [&](const std::string& l) { return l.starts_with(AText); });
                FSearched = found == log.Lines.end() ? FSearched : found - log.Lines.begin() + 1;
                return found != log.Lines.end();
            },
            int(ALimit.count()));
    }
    std::string Lines() const {
        std::string all;
        for (const std::string& line : log.Lines) {
            all += line + "\n";
        }
        return all;
    }

    EventLog log;
    size_t FSearched = 0;
};

} // namespace

TEST_F(IRCServerEvents, ASessionInAChannelWithPeers) {
    NgircdConfig config;
    config.FloodPenalty = false;
    NgircdServer ngircd(config);
    IiClient peer(ngircd.Port(), "peer");
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log(); // first in: the channel's operator

    // Nick and alternative both refused (the alternative too long for ngircd's 9): the handler
    // offers the refused nick again, and the fallback ends with a disconnect.
    {
        auto refused = Client(ngircd.Port(), "peer", "Rivozuzove_");
        refused->OnNicksInUse = [](TIdIRC*, std::string& ANick) { ANick = "peer"; };
        refused->Connect();
        ASSERT_TRUE(WaitFor("Error srv 432 * Rivozuzove_")) << Lines();
        ASSERT_TRUE(Pump([&] { return refused->State() == csDisconnected; })) << Lines();
        EXPECT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                                [](const std::string& l) { return l.starts_with("Sent NICK"); }),
                  2)
            << Lines();
    }

    // The nick is taken: the alternative is registered, and the client's own entry says so.
    auto me = Client(ngircd.Port(), "peer", "bob");
    me->Connect();
    ASSERT_TRUE(WaitFor("Error srv 433 * peer")) << Lines();
    ASSERT_TRUE(WaitFor("Sent NICK bob")) << Lines();
    ASSERT_TRUE(WaitFor("State 4")) << Lines() << ngircd.Log();
    EXPECT_EQ(me->User()->Nick(), "bob");

    // Own JOIN, the MODE request and its answer; the names with the peer as operator.
    me->Join("#velmor");
    ASSERT_TRUE(WaitFor("Sent MODE #velmor ")) << Lines();
    ASSERT_TRUE(WaitFor("Joined #velmor")) << Lines();
    ASSERT_TRUE(WaitFor("System srv 353 NAMES #velmor :bob @peer")) << Lines();
    ASSERT_TRUE(WaitFor("Names ")) << Lines();
    ASSERT_TRUE(WaitFor("ChannelMode null #velmor #velmor +")) << Lines();
    EXPECT_EQ(me->Channels().Get("#velmor")->MemberFlags("peer"), IRCMemberOperator);

    const struct {
        const char* why;
        std::string command; // sent by the peer
        std::string event;
    } steps[] = {
        {"a message", "PRIVMSG #velmor :hello there", "Message peer #velmor hello there"},
        {"a notice", "NOTICE #velmor :note", "Notice peer #velmor note"},
        {"an action",
         "PRIVMSG #velmor :\x01"
         "ACTION waves\x01",
         "Action peer #velmor waves"},
        {"a topic", "TOPIC #velmor :the game is on", "Topic peer #velmor #velmor the game is on"},
        {"+o", "MODE #velmor +o bob", "Op peer #velmor bob"},
        {"+v", "MODE #velmor +v bob", "Voice peer #velmor bob"},
        {"+b", "MODE #velmor +b bad!*@*", "Ban peer #velmor bad!*@*"},
        {"ngircd's half-op takes its nick: -v goes to bob", "MODE #velmor +h-v peer bob",
         "Devoice peer #velmor bob"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.why);
        peer.Raw(s.command);
        EXPECT_TRUE(WaitFor(s.event)) << Lines();
    }
    EXPECT_EQ(me->Channels().Get("#velmor")->MemberFlags("bob"), IRCMemberOperator);

    peer.Say("bob", "\x01VERSION\x01");
    // The answer is written while this thread runs the hand-offs, so wait here, not in ii.
    EXPECT_TRUE(Pump([&] {
        return peer.Out("bob").find("VERSION Vozorur2.3") != std::string::npos;
    })) << peer.Log()
        << Lines();

    // Another user comes, leaves, comes back and is kicked; then the client itself is.
    IiClient carol(ngircd.Port(), "carol");
    ASSERT_TRUE(carol.Join("#velmor"));
    EXPECT_TRUE(WaitFor("Join carol #velmor")) << Lines();
    carol.Raw("PART #velmor :later");
    EXPECT_TRUE(WaitFor("Part carol(later) #velmor")) << Lines();
    ASSERT_TRUE(carol.Join("#velmor"));
    peer.Raw("KICK #velmor carol :out");
    EXPECT_TRUE(WaitFor("Kick peer(out) carol(out) #velmor")) << Lines();
    peer.Raw("KICK #velmor bob :bye");
    EXPECT_TRUE(WaitFor("Kicked peer(bye) #velmor/closed2")) << Lines();
    EXPECT_EQ(me->Channels().Get("#velmor"), nullptr);

    // Left silent, the client is pinged by the server and answers.
    const auto pingLimit = std::chrono::seconds(config.PingTimeout + 10);
    EXPECT_TRUE(WaitFor("Sent PONG :irc.brisal.test", pingLimit)) << Lines();
    EXPECT_TRUE(WaitFor("PingPong")) << Lines();
    EXPECT_EQ(me->State(), csLoggedIn);
}
