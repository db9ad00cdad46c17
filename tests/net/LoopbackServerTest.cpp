// The scripted test server itself: conversations on two connections in turn, and a WaitFor
// that gives up.
#include "LoopbackServer.h"
#include "IdException.h"
#include "IdTCPClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

TEST(LoopbackServer, ScriptFollowsEachConnectionInTurn) {
    LoopbackServer server;
    server.WaitFor("NICK a\r\n").Send("hello a\r\n", 2, 1ms);
    server.NextConnection().WaitFor("NICK b\r\n").Send("hello b\r\n").Reset();
    server.NextConnection().WaitFor("never", 50ms).Send("not sent\r\n");
    TIdTCPClient first, second, third;
    for (TIdTCPClient* client : {&first, &second, &third}) {
        client->SetHost(LoopbackServer::Host());
        client->SetPort(server.Port());
        client->SetReadTimeout(300);
        client->Connect();
    }
    // The second connection is answered only after the first conversation is done.
    second.WriteLn("NICK b");
    first.WriteLn("NICK a");
    EXPECT_EQ(first.ReadLn(), "hello a");
    EXPECT_EQ(second.ReadLn(), "hello b");
    EXPECT_THROW(second.ReadLn(), EIdSocketError);
    EXPECT_TRUE(server.WaitScriptDone());
    EXPECT_EQ(server.ConnectionCount(), 3u);
    EXPECT_EQ(server.Received(0), "NICK a\r\n");
    EXPECT_EQ(server.Received(1), "NICK b\r\n");
    // The third one's WaitFor gave up: reported, and the rest of the script dropped.
    ASSERT_EQ(server.Failures().size(), 1u);
    EXPECT_NE(server.Failures()[0].find("never"), std::string::npos);
    EXPECT_THROW(third.ReadLn(), EIdReadTimeout);
}
