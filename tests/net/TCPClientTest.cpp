// The TCP client over real loopback sockets, and the streams it sends.
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdSimpleBuffer.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "ProbeStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using TestSupport::Raised;

namespace {

using Log = std::vector<std::string>;

void ConnectTo(TIdTCPClient& client, const LoopbackServer& server) {
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.Connect();
}

} // namespace

// One client through a refused connect, a server that closes after unterminated bytes, and a
// next server. The refused connect keeps the handler and leaves nothing open; the unterminated
// bytes come out as one empty line (left in the buffer) with the close reported, and the next
// read raises without reporting it again; the next connect starts with none of the old bytes;
// a Connect on top of a connection raises and changes nothing.
TEST(TCPClient, RefusedThenClosedThenNextConnection) {
    TIdTCPClient client;
    Log log;
    client.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
        log.push_back(text + (sender == &client ? "" : " (handler)"));
    };
    client.OnConnected = [&](TIdComponent*) { log.push_back("OnConnected"); };
    client.OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
    client.SetHost(LoopbackServer::Host());
    client.SetPort(FreeLoopbackPort());
    EXPECT_EQ(Raised<EIdSocketError>([&] { client.Connect(); }),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(client.Connected());
    TIdIOHandler* handler = client.IOHandler();
    ASSERT_NE(handler, nullptr);
    LoopbackServer closing;
    closing.Send("one\r\nabc").Close();
    ConnectTo(client, closing);
    log.push_back(Raised<EIdConnClosedGracefully>([&] {
        for (;;) {
            log.push_back("line " + client.ReadLn());
        }
    }));
    EXPECT_EQ(client.InputBuffer()->Size(), 3);
    EXPECT_TRUE(closing.WaitForClientClose()) << "the client's side stayed open";
    LoopbackServer next;
    next.Send("hi\r\n");
    ConnectTo(client, next);
    EXPECT_EQ(Raised<EIdAlreadyConnected>([&] { client.Connect(); }), "Already connected.");
    EXPECT_EQ(client.IOHandler(), handler);
    EXPECT_EQ(client.ReadLn(), "hi");
    client.Disconnect();
    EXPECT_EQ(client.IOHandler(), nullptr) << "the owned handler is freed";
    EXPECT_TRUE(next.WaitForClientClose());
    const std::string connecting = "Connecting to 127.0.0.1. (handler)";
    EXPECT_EQ(log, (Log{connecting, connecting, "Connected.", "OnConnected", "line one",
                        "Disconnected.", "OnDisconnected", "line ", "Connection Closed Gracefully.",
                        connecting, "Connected.", "OnConnected", "Disconnecting.", "OnDisconnected",
                        "Disconnected."}));
}

// A listener whose queue is full answers no handshake: the connect gives up at its time-out
// with its own error.
TEST(TCPClient, AListenerThatNeverAcceptsEndsTheConnectAtItsTimeOut) {
    RawSocket listener = RawSocket::Bound(0);
    ASSERT_EQ(RawNet::Listen(listener.Fd(), 0), 0);
    RawSocket queued = RawSocket::Connected(listener.LocalPort()); // the queue's only place
    TIdTCPClient client;
    client.SetHost(LoopbackServer::Host());
    client.SetPort(listener.LocalPort());
    EXPECT_EQ(Raised<EIdConnectTimeout>([&] { client.Connect(200); }), "Connect timed out.");
    EXPECT_FALSE(client.Connected());
}

// The peer address is asked for right after the connect, when a server that resets at once
// may be gone already (PeerGone): the connect still succeeds, and the read reports the reset.
TEST(TCPClientPeerClose, AResetBeforeThePeerAddressIsReadGivesTheMappedSocketError) {
    if (RawNet::UnderWine()) {
        GTEST_SKIP() << RawNet::kWineResetReadsAsEnd;
    }
    ProbeStackScope probe;
    LoopbackServer server;
    TIdTCPClient client;
    ProbeStack::Active()->PeerGone = true;
    ConnectTo(client, server);
    server.Reset();
    EXPECT_EQ(Raised<EIdSocketError>([&] { client.ReadLn(); }),
              "Socket Error # 10054\r\nConnection reset by peer.");
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

// Megabytes arrive byte for byte, from where each case says, with their count first when asked;
// a stream shorter than its size raises after sending what it had.
TEST(ConnectionTransfer, Streams) {
    std::string data(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = char(i * 7 + i / 251); // no shifted piece matches by chance
    }
    const uint32_t n = uint32_t(data.size());
    const std::string count{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    std::istringstream stream(data);
    const struct {
        const char* why;
        bool fromStart, writeCount;
        int32_t size;
        std::string expected, error;
    } cases[] = {
        {"all of it, count first", true, true, 0, count + data, "(nothing raised)"},
        {"a size from the position", false, false, 2000001, data.substr(1000, 2000001),
         "(nothing raised)"},
        {"a size beyond the end", false, false, int32_t(n), data.substr(1000), "No data to read."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        stream.clear();
        stream.seekg(1000);
        LoopbackServer receiver;
        TIdTCPClient sender;
        sender.SetSendBufferSize(100000); // blocks that do not divide the data evenly
        ConnectTo(sender, receiver);
        EXPECT_EQ(Raised<EIdException>(
                      [&] { sender.WriteStream(stream, c.fromStart, c.writeCount, c.size); }),
                  c.error);
        sender.Disconnect();
        EXPECT_TRUE(receiver.WaitForClientClose(TestSupport::HangLimit));
        EXPECT_EQ(receiver.Received().size(), c.expected.size());
        EXPECT_TRUE(receiver.Received() == c.expected);
    }
}
