// The TCP client over real loopback sockets: connecting, peer closes and resets, intercept
// chains, and a disconnect racing a blocked reader.
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdSimpleBuffer.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

void ConnectTo(TIdTCPClient& client, const LoopbackServer& server) {
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.Connect();
}

// Runs `action`, expecting it to raise E with `text`.
template <typename E, typename F> void ExpectRaises(F action, const std::string& text) {
    try {
        action();
        ADD_FAILURE() << "no exception, expected: " << text;
    } catch (const E& e) {
        EXPECT_EQ(e.what(), text);
    }
}

} // namespace

// Unterminated bytes at the close come out as one empty line (left in the buffer) with the
// close reported; the next read raises without reporting it again.
TEST(TCPClientPeerClose, ReportsOnceThenRaisesClosedGracefully) {
    struct Case {
        const char* wire;
        int32_t buffered;
        Log expected;
    };
    const Case cases[] = {
        {"one\r\nabc",
         3,
         {"line one", "hsDisconnected", "OnDisconnected", "line ",
          "Connection Closed Gracefully."}},
        {"", 0, {"hsDisconnected", "OnDisconnected", "Connection Closed Gracefully."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        LoopbackServer server;
        server.Send(c.wire).Close();
        TIdTCPClient client;
        Log log;
        client.OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
        client.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string&) {
            if (status == hsDisconnected) {
                log.push_back("hsDisconnected");
            }
        };
        ConnectTo(client, server);
        try {
            for (;;) {
                log.push_back("line " + client.ReadLn());
            }
        } catch (const EIdConnClosedGracefully& e) {
            log.push_back(e.what());
        }
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(client.InputBuffer()->Size(), c.buffered);
        EXPECT_FALSE(client.Connected());
        EXPECT_TRUE(server.WaitForClientClose()) << "the client's side stayed open";
    }
}

TEST(TCPClientPeerClose, AResetGivesTheMappedSocketError) {
    LoopbackServer server;
    server.Reset();
    TIdTCPClient client;
    // The kernel reports the reset from the first read, or now and then from connect() itself.
    ExpectRaises<EIdSocketError>(
        [&] {
            ConnectTo(client, server);
            client.ReadLn();
        },
        "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(TCPClientConnect, StatusesAndEventsInOrderAndASecondConnectRaises) {
    LoopbackServer server;
    TIdTCPClient client;
    Log log;
    client.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
        log.push_back(text + (sender == &client ? "" : " (handler)"));
    };
    client.OnConnected = [&](TIdComponent*) { log.push_back("OnConnected"); };
    client.OnDisconnected = [&](TIdComponent*) { log.push_back("OnDisconnected"); };
    ConnectTo(client, server);
    TIdIOHandler* handler = client.IOHandler();
    ExpectRaises<EIdAlreadyConnected>([&] { client.Connect(); }, "Already connected.");
    EXPECT_EQ(client.IOHandler(), handler);
    client.WriteLn("still here");
    EXPECT_TRUE(server.WaitForReceived("still here\r\n"));
    EXPECT_EQ(server.ConnectionCount(), 1u);
    client.Disconnect();
    EXPECT_EQ(log, (Log{"Connecting to 127.0.0.1. (handler)", "Connected.", "OnConnected",
                        "Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(client.IOHandler(), nullptr) << "the owned handler is freed";
    EXPECT_TRUE(server.WaitForClientClose());
}

TEST(TCPClientConnect, ARefusedConnectKeepsTheHandlerForTheNextAttempt) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(FreeLoopbackPort());
    int disconnectEvents = 0;
    client.OnDisconnected = [&](TIdComponent*) { ++disconnectEvents; };
    ExpectRaises<EIdSocketError>([&] { client.Connect(); },
                                 "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(disconnectEvents, 0);
    TIdIOHandler* handler = client.IOHandler();
    ASSERT_NE(handler, nullptr);

    LoopbackServer server;
    server.Send("welcome\r\n");
    client.SetPort(server.Port());
    client.Connect();
    EXPECT_EQ(client.IOHandler(), handler);
    EXPECT_EQ(client.ReadLn(), "welcome");
}

TEST(TCPClientConnect, AnOnConnectedHandlerThatRaisesClosesTheSocket) {
    LoopbackServer server;
    TIdTCPClient client;
    client.OnConnected = [](TIdComponent*) { throw EIdException("handler failed"); };
    ExpectRaises<EIdException>([&] { ConnectTo(client, server); }, "handler failed");
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.WaitForClientClose());
}

// A -> B: data to send flows A then B, received data B then A, each seeing the block rewound
// and what the previous one made of it; connect runs A then B, disconnect B then A, each
// still attached to the connection.
TEST(TCPClientIntercept, ChainsSeeDataInTheirOrder) {
    LoopbackServer server;
    server.Send("hello\r\n");
    TIdTCPClient client;
    TIdConnectionIntercept a, b;
    a.SetIntercept(&b);
    client.SetIntercept(&a);
    Log log;
    for (auto [i, name] : {std::pair{&a, "A"}, std::pair{&b, "B"}}) {
        std::string n = name;
        i->OnConnect = [&log, n](TIdConnectionIntercept*) { log.push_back(n + " connect"); };
        i->OnDisconnect = [&log, n](TIdConnectionIntercept* s) {
            log.push_back(n + " disconnect" + (s->Connection() ? "" : " detached"));
        };
        // Each marks the block and grows it: the connection must use the new size.
        auto stamp = [&log, n](const char* what, TIdSimpleBuffer* buffer) {
            log.push_back(n + what + std::to_string(buffer->Position()) + " " +
                          std::string(buffer->Data(), buffer->Size()));
            buffer->Memory()[0] = n[0];
            buffer->Seek(0, soEnd);
            buffer->Write(n.data(), 1);
        };
        i->OnSend = [stamp](TIdConnectionIntercept*, TIdSimpleBuffer* b) { stamp(" send ", b); };
        i->OnReceive = [stamp](TIdConnectionIntercept*, TIdSimpleBuffer* b) {
            stamp(" receive ", b);
        };
    }
    ConnectTo(client, server);
    EXPECT_EQ(a.Connection(), &client);
    EXPECT_EQ(client.ReadLn(), "Aello");
    EXPECT_EQ(client.InputBuffer()->Size(), 2); // "BA" after the line
    client.Write("ping");
    EXPECT_TRUE(server.WaitForReceived("BingAB"));
    client.Disconnect();
    EXPECT_EQ(a.Connection(), nullptr);
    EXPECT_EQ(log, (Log{"A connect", "B connect", "B receive 0 hello\r\n", "A receive 0 Bello\r\nB",
                        "A send 0 ping", "B send 0 AingA", "B disconnect", "A disconnect"}));
}

// Links to intercepts are dropped when the intercept goes, but only the current link: one
// replaced earlier must not clear it when destroyed.
TEST(TCPClientIntercept, DestroyingAnInterceptClearsOnlyItsOwnLinks) {
    TIdTCPClient client;
    auto a = std::make_unique<TIdConnectionIntercept>();
    auto old = std::make_unique<TIdConnectionIntercept>();
    auto b = std::make_unique<TIdConnectionIntercept>();
    client.SetIntercept(a.get());
    a->SetIntercept(old.get());
    a->SetIntercept(b.get());
    old.reset();
    EXPECT_EQ(a->Intercept(), b.get());
    b.reset();
    EXPECT_EQ(a->Intercept(), nullptr);
    TIdSimpleBuffer block;
    block.Write("z", 1);
    a->Send(&block); // would reach freed memory if the link had survived
    a.reset();
    EXPECT_EQ(client.Intercept(), nullptr);
}

// The reader blocks in ReadLn on a real socket while the test's thread, as the window's
// thread would, writes and then disconnects.
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
                    gotFirst = client.ReadLn() == "first" || gotFirst;
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
