// Writing, work reporting, handler ownership and the reader/window thread split, against an
// in-memory handler.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Connection {
    TIdTCPConnection Conn;
    ScriptedIOHandler* Handler = new ScriptedIOHandler();
    Connection() {
        Conn.SetIOHandler(Handler);
        Conn.SetOwnsIOHandler(true);
    }
};

// Counts its own destruction, to see when and whether an owned handler is freed.
class CountedHandler : public ScriptedIOHandler {
public:
    explicit CountedHandler(std::atomic<int>& destroyed) : FDestroyed(destroyed) {}
    ~CountedHandler() override { ++FDestroyed; }

private:
    std::atomic<int>& FDestroyed;
};

bool WaitUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(TCPConnectionWrite, SendsEverythingAcrossPartialSends) {
    Connection t;
    t.Handler->SetSendLimit(3);
    t.Conn.WriteLn("PRIVMSG #c :hello");
    t.Conn.Write("tail");
    EXPECT_EQ(t.Handler->Sent(), "PRIVMSG #c :hello\r\ntail");
}

TEST(TCPConnectionWrite, NothingToWriteIsNoErrorEvenWhenDisconnected) {
    TIdTCPConnection unconnected;
    EXPECT_NO_THROW(unconnected.Write(""));
    EXPECT_NO_THROW(unconnected.WriteBytes(nullptr, 5));
    EXPECT_NO_THROW(unconnected.WriteBytes("x", 0));
    try {
        unconnected.Write("x");
        ADD_FAILURE() << "no exception";
    } catch (const EIdNotConnected& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }

    Connection closed;
    closed.Conn.Disconnect();
    EXPECT_NO_THROW(closed.Conn.Write(""));
    EXPECT_THROW(closed.Conn.WriteLn(""), EIdNotConnected);
}

TEST(TCPConnectionWrite, WriteAfterThePeerClosedRaisesClosedGracefully) {
    Connection t;
    int disconnected = 0;
    t.Conn.OnDisconnected = [&](TIdComponent*) { ++disconnected; };
    t.Handler->EndOfData();
    EXPECT_EQ(t.Conn.ReadAvailable(), "");
    EXPECT_EQ(disconnected, 1);
    EXPECT_THROW(t.Conn.WriteLn("QUIT"), EIdConnClosedGracefully);
    EXPECT_EQ(t.Handler->Sent(), "");
}

// Only an open work bracket turns consumed bytes into work events: ReadAll reports, line
// reads and plain writes do not.
TEST(TCPConnectionWork, ReadAllReportsRunningTotalsInsideOneBracket) {
    Connection t;
    std::vector<std::string> events;
    t.Conn.OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int32_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    t.Conn.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
        events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    t.Conn.OnWorkEnd = [&](TIdComponent*, TWorkMode mode) {
        events.push_back("end " + std::to_string(mode));
    };
    t.Handler->Receipt("line\r\n");
    EXPECT_EQ(t.Conn.ReadLn(), "line");
    t.Conn.WriteLn("x");
    EXPECT_TRUE(events.empty());

    t.Handler->Receipt("abc");
    t.Handler->Receipt("defg");
    t.Handler->EndOfData();
    EXPECT_EQ(t.Conn.ReadAll(), "abcdefg");
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front(), "begin 0 0");
    EXPECT_EQ(events[1], "work 0 3");
    EXPECT_EQ(events[2], "work 0 7");
    EXPECT_EQ(events[events.size() - 2], "work 0 7");
    EXPECT_EQ(events.back(), "end 0");
}

TEST(TCPConnectionDisconnect, ReportsInOrderAndFreesOnlyAnOwnedHandler) {
    std::atomic<int> destroyed{0};
    TIdTCPConnection conn;
    std::vector<std::string> order;
    conn.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
        EXPECT_EQ(sender, &conn);
        order.push_back(text);
    };
    conn.OnDisconnected = [&](TIdComponent*) { order.push_back("OnDisconnected"); };

    auto* owned = new CountedHandler(destroyed);
    conn.SetIOHandler(owned);
    conn.SetOwnsIOHandler(true);
    conn.Disconnect();
    EXPECT_EQ(order,
              (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(conn.IOHandler(), nullptr);
    EXPECT_FALSE(conn.OwnsIOHandler());

    // One assigned from outside stays, closed, and raises on use.
    CountedHandler external(destroyed);
    conn.SetIOHandler(&external);
    conn.Disconnect();
    EXPECT_EQ(conn.IOHandler(), &external);
    EXPECT_FALSE(external.Connected());
    EXPECT_EQ(destroyed, 1);
    char byte;
    EXPECT_THROW(external.Recv(&byte, 1), EIdClosedSocket);
}

TEST(TCPConnectionHandler, AssignmentFreesTheOwnedOneAndDestructionClearsTheReference) {
    std::atomic<int> destroyed{0};
    TIdTCPConnection conn;
    auto* owned = new CountedHandler(destroyed);
    conn.SetIOHandler(owned);
    conn.SetOwnsIOHandler(true);
    // Assigning the same handler again must not free it.
    conn.SetIOHandler(owned);
    EXPECT_EQ(destroyed, 0);
    EXPECT_TRUE(conn.OwnsIOHandler());

    {
        CountedHandler external(destroyed);
        conn.SetIOHandler(&external);
        EXPECT_EQ(destroyed, 1); // the owned one went
        EXPECT_FALSE(conn.OwnsIOHandler());
    }
    // The external one was destroyed by its owner: the connection forgot it.
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(conn.IOHandler(), nullptr);
    EXPECT_FALSE(conn.Connected());
    EXPECT_NO_THROW(conn.CheckForDisconnect(true, false));
}

TEST(TCPConnectionHandler, DestructionClosesWithoutEventsAndFreesTheOwnedHandler) {
    std::atomic<int> destroyed{0};
    int events = 0;
    {
        TIdTCPConnection conn;
        conn.OnStatus = [&](TIdComponent*, TIdStatus, const std::string&) { ++events; };
        conn.OnDisconnected = [&](TIdComponent*) { ++events; };
        conn.SetIOHandler(new CountedHandler(destroyed));
        conn.SetOwnsIOHandler(true);
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(events, 0);
}

// The reader blocks in ReadLn while the test's thread (the window's thread) disconnects:
// that very read must end with an exception, whether the reader waited in Readable or was
// already inside Recv, and the handler must outlive the reader's use of it.
TEST(TCPConnectionThreads, DisconnectEndsABlockedReadLnWithAnException) {
    for (bool waitInRecv : {false, true}) {
        for (bool buffered : {false, true}) {
            SCOPED_TRACE(std::string(waitInRecv ? "waiting in Recv" : "waiting in Readable") +
                         (buffered ? ", unterminated rest buffered" : ", nothing buffered"));
            std::atomic<int> destroyed{0};
            TIdTCPConnection conn;
            auto* handler = new CountedHandler(destroyed);
            handler->SetWaitInRecv(waitInRecv);
            conn.SetIOHandler(handler);
            conn.SetOwnsIOHandler(true);
            if (buffered) {
                handler->Receipt("abc");
            }
            auto reader = std::async(std::launch::async, [&]() -> std::string {
                try {
                    return "returned \"" + conn.ReadLn() + "\"";
                } catch (const EIdException& e) {
                    return std::string("raised ") + e.what();
                }
            });
            ASSERT_TRUE(WaitUntil([&] { return handler->Waiting() == 1; }));
            conn.Disconnect();
            ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << "reader still blocked";
            const std::string outcome = reader.get();
            EXPECT_EQ(outcome.rfind("raised ", 0), 0u) << outcome;
            EXPECT_EQ(destroyed, 1);
            EXPECT_FALSE(conn.Connected());
        }
    }
}

// Both threads notice the same peer close: the close is reported once.
TEST(TCPConnectionThreads, APeerCloseSeenFromBothThreadsIsReportedOnce) {
    for (int round = 0; round < 50; ++round) {
        Connection t;
        std::atomic<int> disconnected{0};
        t.Conn.OnDisconnected = [&](TIdComponent*) { ++disconnected; };
        auto reader = std::async(std::launch::async, [&] {
            try {
                t.Conn.ReadLn();
            } catch (const EIdException&) {
            }
        });
        ASSERT_TRUE(WaitUntil([&] { return t.Handler->Waiting() == 1; }));
        t.Handler->EndOfData();
        while (t.Conn.Connected()) {
        }
        ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
        reader.get();
        EXPECT_EQ(disconnected, 1);
    }
}
