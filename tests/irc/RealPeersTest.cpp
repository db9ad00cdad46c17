// The real peers the end-to-end tests meet: ngircd started on a free port, a hand-driven line
// client and ii in one channel. Each step is one the component's own tests rely on.
#include "IiClient.h"
#include "LineClient.h"
#include "NgircdServer.h"

#include <gtest/gtest.h>

#include <chrono>

TEST(RealPeers, LineClientAndIiTalkThroughNgircd) {
    NgircdServer server;
    LineClient raw(server.Port());
    raw.Send("NICK rawbob");
    raw.Send("USER rawbob 0 * :Raw Bob");
    ASSERT_NE(raw.WaitForLine(" 001 rawbob "), "") << server.Log();

    IiClient peer(server.Port(), "peer");
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log();
    raw.Send("JOIN #velmor");
    // The channel's creator is its operator, which the kick and mode tests need.
    EXPECT_EQ(raw.WaitForLine(" 353 "), ":irc.brisal.test 353 rawbob = #velmor :rawbob @peer");
    ASSERT_NE(raw.WaitForLine(" 366 rawbob #velmor "), "");

    peer.Say("#velmor", "hello there");
    EXPECT_EQ(raw.WaitForLine(" PRIVMSG "), ":peer!~peer@127.0.0.1 PRIVMSG #velmor :hello there");
    peer.Ctcp("rawbob", "VERSION");
    EXPECT_EQ(raw.WaitForLine(" PRIVMSG "),
              ":peer!~peer@127.0.0.1 PRIVMSG rawbob :\x01VERSION\x01");
    raw.Send("NOTICE peer :\x01VERSION Brisal\x01");
    EXPECT_TRUE(peer.WaitForText("VERSION Brisal", "rawbob")) << peer.Log();
    peer.Raw("TOPIC #velmor :the game is on");
    EXPECT_EQ(raw.WaitForLine(" TOPIC "), ":peer!~peer@127.0.0.1 TOPIC #velmor :the game is on");

    // A client that stays silent for PingTimeout seconds is pinged by the server.
    EXPECT_EQ(raw.WaitForLine("PING ", std::chrono::seconds(server.Config().PingTimeout + 10)),
              "PING :irc.brisal.test");
}
