// The TCP client over real loopback sockets.
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdSimpleBuffer.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "ProbeStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

using Log = std::vector<std::string>;

void ConnectTo(TIdTCPClient& client, const LoopbackServer& server) {
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.Connect();
}

} // namespace

// Unterminated bytes at the close come out as one empty line (left in the buffer) with the
// close reported; the next read raises without reporting it again. A connect to the next
// server starts with none of the old bytes.
TEST(TCPClientPeerClose, ReportsOnceThenRaisesClosedGracefully) {
    LoopbackServer server;
    server.Send("one\r\nabc").Close();
    TIdTCPClient client;
    Log log;
    client.OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
    client.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string&) {
        if (status == hsDisconnected) {
            log.push_back("hsDisconnected");
        }
    };
    ConnectTo(client, server);
    log.push_back(Raised<EIdConnClosedGracefully>([&] {
        for (;;) {
            log.push_back("line " + client.ReadLn());
        }
    }));
    EXPECT_EQ(log, (Log{"line one", "hsDisconnected", "OnDisconnected", "line ",
                        "Connection Closed Gracefully."}));
    EXPECT_EQ(client.InputBuffer()->Size(), 3);
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.WaitForClientClose()) << "the client's side stayed open";
    LoopbackServer next;
    next.Send("hi\r\n");
    ConnectTo(client, next);
    EXPECT_EQ(client.ReadLn(), "hi");
}

// The peer address is asked for right after the connect, when a server that resets at once
// may be gone already (PeerGone): the connect still succeeds, and the read reports the reset.
TEST(TCPClientPeerClose, AResetGivesTheMappedSocketError) {
    for (bool peerGone : {false, true}) {
        SCOPED_TRACE(peerGone ? "reset before the peer address is read" : "reset after connect");
        ProbeStackScope probe;
        RawSocket listener = RawSocket::Listener();
        TIdTCPClient client;
        ProbeStack::Active()->PeerGone = peerGone;
        client.SetHost("127.0.0.1");
        client.SetPort(listener.LocalPort());
        client.Connect();
        RawSocket accepted = listener.Accept();
        linger hard{1, 0};
        ASSERT_EQ(setsockopt(accepted.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        accepted.Close();
        EXPECT_EQ(Raised<EIdSocketError>([&] { client.ReadLn(); }),
                  "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

// A refused connect keeps the handler and leaves nothing open that stops the next connect,
// which reports its steps in order; a second Connect on top of it raises and changes nothing.
TEST(TCPClientConnect, AFailedConnectLeavesNothingOpenForTheNextAttempt) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(FreeLoopbackPort());
    Log log;
    client.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
        log.push_back(text + (sender == &client ? "" : " (handler)"));
    };
    client.OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
    EXPECT_EQ(Raised<EIdSocketError>([&] { client.Connect(); }),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(log, Log{"Connecting to 127.0.0.1. (handler)"});
    TIdIOHandler* handler = client.IOHandler();
    ASSERT_NE(handler, nullptr);
    LoopbackServer next;
    next.Send("welcome\r\n");
    log.clear();
    client.OnConnected = [&](TIdComponent*) { log.push_back("OnConnected"); };
    ConnectTo(client, next);
    EXPECT_EQ(Raised<EIdAlreadyConnected>([&] { client.Connect(); }), "Already connected.");
    EXPECT_EQ(client.IOHandler(), handler);
    EXPECT_EQ(client.ReadLn(), "welcome");
    client.Disconnect();
    EXPECT_EQ(log, (Log{"Connecting to 127.0.0.1. (handler)", "Connected.", "OnConnected",
                        "Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(client.IOHandler(), nullptr) << "the owned handler is freed";
    EXPECT_TRUE(next.WaitForClientClose());
}

// A -> B: received data flows B then A, each seeing the block rewound and what the previous
// one made of it.
TEST(TCPClientIntercept, AChainSeesReceivedDataInItsOrder) {
    LoopbackServer server;
    server.Send("hello\r\n");
    TIdTCPClient client;
    TIdConnectionIntercept a, b;
    a.SetIntercept(&b);
    client.SetIntercept(&a);
    Log log;
    for (auto [i, name] : {std::pair{&a, 'A'}, std::pair{&b, 'B'}}) {
        // Each marks the block and grows it: the connection must use the new size.
        i->OnReceive = [&log, n = name](TIdConnectionIntercept*, TIdSimpleBuffer* AData) {
            log.push_back(n + std::to_string(AData->Position()) + " " +
                          std::string(AData->Data(), AData->Size()));
            AData->Memory()[0] = n;
            AData->Seek(0, soEnd);
            AData->Write(&n, 1);
        };
    }
    ConnectTo(client, server);
    EXPECT_EQ(client.ReadLn(), "Aello");
    EXPECT_EQ(client.InputBuffer()->Size(), 2); // "BA" after the line
    EXPECT_EQ(log, (Log{"B0 hello\r\n", "A0 Bello\r\nB"}));
}

// The reader waits in ReadLn (held in the stack's select until the test has acted) while the
// window's thread writes and then disconnects: the read ends with the local close.
TEST(TCPClientThreads, DisconnectEndsAReaderBlockedInReadLn) {
    ProbeStackScope probe;
    TIdTCPClient client;
    std::future<std::string> reader;
    LoopbackServer server; // last: its close wakes the reader even when the disconnect did not
    ConnectTo(client, server);
    ProbeStack& stack = *ProbeStack::Active();
    stack.SelectGate.Arm();
    reader = std::async(std::launch::async,
                        [&] { return Raised<EIdException>([&] { client.ReadLn(); }); });
    ASSERT_TRUE(stack.SelectGate.WaitEntered());
    client.WriteLn("QUIT");
    client.Disconnect();
    stack.SelectGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready) << "reader still blocked";
    EXPECT_EQ(reader.get(), "Disconnected.");
    EXPECT_TRUE(server.WaitForReceived("QUIT\r\n"));
    EXPECT_TRUE(server.WaitForClientClose());
}
