// Against a real server (ngircd) and peer (ii): the lines they actually send, and what the
// server makes of the component's. One session; the steps build on each other.
#include "ChildProcess.h"
#include "IRCFixture.h"
#ifndef _WIN32
#include "IiClient.h"
#include "NgircdServer.h"
#endif

using IRCServerEvents = IRCFixture;

TEST_F(IRCServerEvents, ASessionInAChannelWithPeers) {
#ifdef _WIN32
    GTEST_SKIP() << "needs ngircd and ii: " << ChildProcess::Unavailable;
#else
    NgircdServer ngircd({.FloodPenalty = false});
    IiClient peer(ngircd.Port(), "peer");
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log(); // first in: the channel's operator
    size_t searched = 0;                             // the event lines WaitFor has passed
    const auto WaitFor = [&](const std::string& AText,
                             std::chrono::milliseconds ALimit = TestSupport::HangLimit) {
        return Queue().ProcessPendingUntil(
            [&] {
                while (searched < log.Lines.size()) {
                    if (log.Lines[searched++].starts_with(AText)) {
                        return true;
                    }
                }
                return false;
            },
            int(ALimit.count()));
    };
    const auto Lines = [&] { return ::testing::PrintToString(log.Lines); };

    // The nick is taken: the alternative is registered, and the client's own entry says so.
    auto me = Aimed(server);
    me->SetPort(ngircd.Port());
    me->SetNick("peer");
    me->SetAltNick("bob");
    log.Bind(*me);
    me->Connect();
    ASSERT_TRUE(WaitFor("Error srv 433 * peer")) << Lines();
    ASSERT_TRUE(WaitFor("Sent NICK bob")) << Lines();
    ASSERT_TRUE(WaitFor("State 4")) << Lines() << ngircd.Log();
    EXPECT_EQ(me->User()->Nick(), "bob");

    // A long action comes back from the server whole: no piece was too long for it as relayed,
    // none starts inside a UTF-8 sequence, and each keeps its framing. No blanks: the server
    // drops them at a line's end.
    std::string text;
    while (text.size() < 1400) {
        text += "\xF0\x9F\x98\x80\xC3\xA9\xE2\x82\xAC" + std::to_string(text.size()) + "-";
    }
    const size_t from = log.Lines.size();
    me->Action("bob", text);
    me->Say("bob", "END");
    ASSERT_TRUE(WaitFor("Message bob - END")) << Lines();
    std::string whole;
    for (size_t i = from; log.Lines[i] != "Message bob - END"; ++i) {
        if (log.Lines[i].starts_with("Action bob - ")) {
            const std::string piece = log.Lines[i].substr(13);
            EXPECT_NE(static_cast<unsigned char>(piece.at(0)) & 0xC0, 0x80) << piece;
            whole += piece;
        }
    }
    EXPECT_EQ(whole, text);

    // Own JOIN, the MODE request and its answer; the names with the peer as operator.
    me->Join("#velmor");
    ASSERT_TRUE(WaitFor("Sent MODE #velmor ")) << Lines();
    ASSERT_TRUE(WaitFor("Joined #velmor")) << Lines();
    ASSERT_TRUE(WaitFor("System srv 353 NAMES #velmor :bob @peer")) << Lines();
    ASSERT_TRUE(WaitFor("Names ")) << Lines();
    ASSERT_TRUE(WaitFor("ChannelMode null #velmor #velmor +")) << Lines();
    EXPECT_EQ(me->Channels().Get("#velmor")->MemberFlags("peer"), IRCMemberOperator);

    // ngircd's half-op takes its nick: v goes to bob.
    peer.Raw("MODE #velmor +ohv bob peer bob");
    EXPECT_TRUE(WaitFor("Op peer #velmor bob")) << Lines();
    EXPECT_TRUE(WaitFor("Voice peer #velmor bob")) << Lines();
    EXPECT_EQ(me->Channels().Get("#velmor")->MemberFlags("bob"),
              IRCMemberOperator | IRCMemberVoice);

    peer.Raw("KICK #velmor bob :bye");
    EXPECT_TRUE(WaitFor("Kicked peer(bye) #velmor/closed2")) << Lines();
    EXPECT_EQ(me->Channels().Get("#velmor"), nullptr);

    // Left silent, the client is pinged by the server and answers.
    const auto pingLimit = std::chrono::seconds(NgircdConfig().PingTimeout + 10);
    EXPECT_TRUE(WaitFor("Sent PONG :irc.brisal.test", pingLimit)) << Lines();
    EXPECT_EQ(me->State(), csLoggedIn);
#endif
}
