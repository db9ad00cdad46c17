// The TCP client over real loopback sockets: connecting, line reading across real receipts,
// peer closes and resets, intercept chains, and a disconnect racing a blocked reader.
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSimpleBuffer.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::string SocketErrorText(int code, const char* message) {
    return Id::Format("Socket Error # %d\r\n%s", code, message);
}

void ConnectTo(TIdTCPClient& client, const LoopbackServer& server) {
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.Connect();
}

} // namespace

TEST(TCPClientReadLn, LinesSurviveAnyChunkingOnTheWire) {
    const std::string shortWire = "hello\r\n\r\ntext\r\r\nlf only\n";
    const std::vector<std::string> shortLines = {"hello", "", "text\r", "lf only"};
    const std::string longLine(5000, 'x');
    struct Case {
        const char* why;
        size_t chunk;
        std::chrono::milliseconds pause;
        bool withLongLine; // byte-sized pieces with pauses are slow: short text only
    };
    const Case cases[] = {
        {"one block", 0, 0ms, true},
        {"one byte per segment", 1, 0ms, true},
        {"one byte per receipt", 1, 1ms, false},
        {"CR and LF split by a pause", 6, 20ms, false},
        {"odd pieces", 333, 1ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> lines = shortLines;
        std::string wire = shortWire;
        if (c.withLongLine) {
            wire += longLine + "\r\n";
            lines.push_back(longLine);
        }
        LoopbackServer server;
        server.Send(wire, c.chunk, c.pause);
        TIdTCPClient client;
        ConnectTo(client, server);
        for (const std::string& expected : lines) {
            EXPECT_EQ(client.ReadLn(), expected);
        }
        EXPECT_TRUE(server.Failures().empty());
    }
}

TEST(TCPClientReadLn, AnOverLongLineWithoutTerminatorRaises) {
    LoopbackServer server;
    server.Send(std::string(16385, 'q'), 4000, 1ms);
    TIdTCPClient client;
    ConnectTo(client, server);
    EXPECT_THROW(client.ReadLn(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_TRUE(client.Connected());
}

TEST(TCPClientPeerClose, UnterminatedRestGivesAnEmptyLineThenRaises) {
    LoopbackServer server;
    server.Send("one\r\nabc").Close();
    TIdTCPClient client;
    int disconnected = 0;
    client.OnDisconnected = [&](TIdComponent*) { ++disconnected; };
    ConnectTo(client, server);
    EXPECT_EQ(client.ReadLn(), "one");
    EXPECT_EQ(client.ReadLn(), "");
    EXPECT_EQ(client.InputBuffer()->Size(), 3);
    EXPECT_EQ(disconnected, 1);
    try {
        client.ReadLn();
        ADD_FAILURE() << "no exception";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(disconnected, 1);
    EXPECT_FALSE(client.Connected());
    // The client closed its side too.
    EXPECT_TRUE(server.WaitForClientClose());
}

TEST(TCPClientPeerClose, NothingBufferedRaisesAfterOneDisconnectEvent) {
    LoopbackServer server;
    server.Close();
    TIdTCPClient client;
    std::vector<std::string> order;
    client.OnDisconnected = [&](TIdComponent*) { order.push_back("OnDisconnected"); };
    client.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string&) {
        if (status == hsDisconnected) {
            order.push_back("hsDisconnected");
        }
    };
    ConnectTo(client, server);
    try {
        client.ReadLn();
        ADD_FAILURE() << "no exception";
    } catch (const EIdConnClosedGracefully&) {
        order.push_back("exception");
    }
    EXPECT_EQ(order, (std::vector<std::string>{"hsDisconnected", "OnDisconnected", "exception"}));
}

TEST(TCPClientPeerClose, AResetGivesTheMappedSocketError) {
    LoopbackServer server;
    server.Reset();
    TIdTCPClient client;
    ConnectTo(client, server);
    try {
        client.ReadLn();
        ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_EQ(std::string(e.what()), SocketErrorText(10054, "Connection reset by peer."));
    }
}

TEST(TCPClientPeerClose, WritingIntoAResetConnectionClosesItAndRaises) {
    LoopbackServer server;
    server.Reset();
    TIdTCPClient client;
    ConnectTo(client, server);
    ASSERT_TRUE(server.WaitScriptDone());
    std::this_thread::sleep_for(100ms); // let the reset arrive
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i) {
                client.WriteLn("PING");
            }
        },
        EIdSocketError);
    EXPECT_FALSE(client.Connected());
}

TEST(TCPClientConnect, StatusesAndEventsInOrder) {
    LoopbackServer server;
    TIdTCPClient client;
    std::vector<std::string> order;
    TIdComponent* handlerSender = nullptr;
    client.OnStatus = [&](TIdComponent* sender, TIdStatus status, const std::string& text) {
        if (status == hsConnecting) {
            handlerSender = sender;
        }
        order.push_back(text);
    };
    client.OnConnected = [&](TIdComponent* sender) {
        EXPECT_EQ(sender, &client);
        order.push_back("OnConnected");
    };
    client.OnDisconnected = [&](TIdComponent*) { order.push_back("OnDisconnected"); };
    ConnectTo(client, server);
    EXPECT_EQ(handlerSender, client.IOHandler()); // the handler's own status, same handler
    EXPECT_TRUE(client.OwnsIOHandler());
    client.WriteLn("NICK bob");
    EXPECT_TRUE(server.WaitForReceived("NICK bob\r\n"));
    client.Disconnect();
    EXPECT_EQ(order,
              (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "OnConnected",
                                        "Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_TRUE(server.WaitForClientClose());
}

TEST(TCPClientConnect, ConnectingTwiceRaisesAndKeepsTheConnection) {
    LoopbackServer server;
    TIdTCPClient client;
    ConnectTo(client, server);
    TIdIOHandler* handler = client.IOHandler();
    try {
        client.Connect();
        ADD_FAILURE() << "no exception";
    } catch (const EIdAlreadyConnected& e) {
        EXPECT_STREQ(e.what(), "Already connected.");
    }
    EXPECT_EQ(client.IOHandler(), handler);
    EXPECT_TRUE(client.Connected());
    client.WriteLn("still here");
    EXPECT_TRUE(server.WaitForReceived("still here\r\n"));
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(TCPClientConnect, ARefusedConnectKeepsTheHandlerForTheNextAttempt) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(UnusedLoopbackPort());
    int disconnectEvents = 0;
    client.OnDisconnected = [&](TIdComponent*) { ++disconnectEvents; };
    try {
        client.Connect();
        ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_EQ(std::string(e.what()), SocketErrorText(10061, "Connection refused."));
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(client.ClosedGracefully());
    EXPECT_EQ(disconnectEvents, 0);
    TIdIOHandler* handler = client.IOHandler();
    ASSERT_NE(handler, nullptr);

    LoopbackServer server;
    server.Send("welcome\r\n");
    client.SetPort(server.Port());
    client.Connect();
    EXPECT_EQ(client.IOHandler(), handler);
    EXPECT_FALSE(client.ClosedGracefully());
    EXPECT_EQ(client.ReadLn(), "welcome");
}

TEST(TCPClientConnect, AnOnConnectedHandlerThatRaisesClosesTheSocket) {
    LoopbackServer server;
    TIdTCPClient client;
    std::vector<TIdStatus> statuses;
    client.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string&) {
        statuses.push_back(status);
    };
    client.OnConnected = [](TIdComponent*) { throw EIdException("handler failed"); };
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    try {
        client.Connect();
        ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
        EXPECT_STREQ(e.what(), "handler failed");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_NE(client.IOHandler(), nullptr);
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), hsDisconnected), 0);
}

TEST(TCPClientConnect, ConnectAndReadAllReadsUntilThePeerCloses) {
    std::string all;
    for (int i = 0; all.size() < 100000; ++i) {
        all += "line " + std::to_string(i) + "\r\n";
    }
    LoopbackServer server;
    server.Send(all, 7000, 1ms).Close();
    TIdTCPClient client;
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    EXPECT_EQ(client.ConnectAndReadAll(), all);
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_FALSE(client.Connected());
}

// A -> B: A is the client's intercept, B is chained to A. Data to send flows A then B,
// received data B then A, and each sees what the previous one made of it.
TEST(TCPClientIntercept, ChainsSeeDataInTheirOrder) {
    LoopbackServer server;
    server.Send("hello\r\n");
    TIdTCPClient client;
    TIdConnectionIntercept a, b;
    a.SetIntercept(&b);
    client.SetIntercept(&a);
    std::vector<std::string> order;
    auto bytes = [](TIdSimpleBuffer* buffer) {
        return std::string(buffer->Data(), size_t(buffer->Size()));
    };
    a.OnConnect = [&](TIdConnectionIntercept*) { order.push_back("A connect"); };
    b.OnConnect = [&](TIdConnectionIntercept*) { order.push_back("B connect"); };
    a.OnDisconnect = [&](TIdConnectionIntercept*) { order.push_back("A disconnect"); };
    b.OnDisconnect = [&](TIdConnectionIntercept*) { order.push_back("B disconnect"); };
    a.OnSend = [&](TIdConnectionIntercept*, TIdSimpleBuffer* buffer) {
        order.push_back("A send " + bytes(buffer));
        std::string upper = bytes(buffer);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        buffer->SetPosition(0);
        buffer->Write(upper.data(), int32_t(upper.size()));
    };
    b.OnSend = [&](TIdConnectionIntercept*, TIdSimpleBuffer* buffer) {
        order.push_back("B send " + bytes(buffer));
        buffer->Seek(0, soEnd);
        buffer->Write("!", 1); // grows the block: the connection sends the new size
    };
    b.OnReceive = [&](TIdConnectionIntercept*, TIdSimpleBuffer* buffer) {
        order.push_back("B receive " + bytes(buffer));
        buffer->Memory()[0] = 'j';
    };
    a.OnReceive = [&](TIdConnectionIntercept*, TIdSimpleBuffer* buffer) {
        order.push_back("A receive " + bytes(buffer));
        buffer->SetSize(buffer->Size() - 2); // drops the CR LF
        buffer->Seek(0, soEnd);
        buffer->Write(";\n", 2);
    };
    ConnectTo(client, server);
    EXPECT_EQ(a.Connection(), &client);
    EXPECT_EQ(client.ReadLn(), "jello;");
    client.Write("ping\r\n");
    EXPECT_TRUE(server.WaitForReceived("PING\r\n!"));
    client.Disconnect();
    EXPECT_EQ(a.Connection(), nullptr);
    EXPECT_EQ(order, (std::vector<std::string>{"A connect", "B connect", "B receive hello\r\n",
                                               "A receive jello\r\n", "A send ping\r\n",
                                               "B send PING\r\n", "B disconnect", "A disconnect"}));
}

TEST(TCPClientIntercept, DestroyingTheInterceptClearsTheReference) {
    TIdTCPClient client;
    {
        TIdConnectionIntercept intercept;
        client.SetIntercept(&intercept);
        EXPECT_EQ(client.Intercept(), &intercept);
    }
    EXPECT_EQ(client.Intercept(), nullptr);
}

// The reader thread blocks in ReadLn on a real socket while the test's thread, as the
// window's thread would, writes and then disconnects.
TEST(TCPClientThreads, DisconnectEndsAReaderBlockedInReadLn) {
    for (int round = 0; round < 20; ++round) {
        LoopbackServer server;
        server.Send("first\r\n");
        TIdTCPClient client;
        ConnectTo(client, server);
        std::atomic<bool> gotFirst{false};
        auto reader = std::async(std::launch::async, [&]() -> std::string {
            try {
                for (;;) {
                    if (client.ReadLn() == "first") {
                        gotFirst = true;
                    }
                    client.CheckForDisconnect(true, false);
                }
            } catch (const EIdException& e) {
                return e.what();
            }
        });
        while (!gotFirst) {
            std::this_thread::sleep_for(1ms);
        }
        client.WriteLn("QUIT");
        if (round % 2 == 1) {
            std::this_thread::sleep_for(5ms); // sometimes well inside the wait
        }
        client.Disconnect();
        ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << "reader still blocked";
        const std::string text = reader.get();
        EXPECT_TRUE(text == "Connection Closed Gracefully." || text == "Disconnected." ||
                    text == "Not Connected")
            << text;
        EXPECT_TRUE(server.WaitForClientClose());
    }
}
