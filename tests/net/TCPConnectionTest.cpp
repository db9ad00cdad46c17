// Writing, work reporting, handler ownership and the reader/window thread split, against an
// in-memory handler.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Counts its own destruction, to see when and whether an owned handler is freed.
class CountedHandler : public ScriptedIOHandler {
public:
    explicit CountedHandler(std::atomic<int>& destroyed) : FDestroyed(destroyed) {}
    ~CountedHandler() override { ++FDestroyed; }

private:
    std::atomic<int>& FDestroyed;
};

struct Connection {
    std::atomic<int> Destroyed{0};
    TIdTCPConnection Conn;
    CountedHandler* Handler = new CountedHandler(Destroyed);
    Connection() {
        Conn.SetIOHandler(Handler);
        Conn.SetOwnsIOHandler(true);
    }
};

bool WaitUntil(const std::function<bool()>& condition) {
    for (auto deadline = std::chrono::steady_clock::now() + 5s; !condition();) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

// Partial sends are repeated until all is sent; an empty write is no error even when not
// connected, any other write raises, after a peer close as the close.
TEST(TCPConnectionWrite, SendsEverythingOrRaisesWhenNotConnected) {
    Connection t;
    t.Handler->SetSendLimit(3);
    t.Conn.WriteLn("PRIVMSG #c :hello");
    t.Conn.Write("tail");
    EXPECT_EQ(t.Handler->Sent(), "PRIVMSG #c :hello\r\ntail");

    TIdTCPConnection unconnected;
    EXPECT_NO_THROW(unconnected.Write(""));
    EXPECT_NO_THROW(unconnected.WriteBytes(nullptr, 5));
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

    Connection peerClosed;
    peerClosed.Handler->EndOfData();
    EXPECT_EQ(peerClosed.Conn.ReadAvailable(), "");
    EXPECT_THROW(peerClosed.Conn.WriteLn("QUIT"), EIdConnClosedGracefully);
    EXPECT_EQ(peerClosed.Handler->Sent(), "");
}

// The order of Disconnect's reports and the freeing of an owned handler are checked through
// the client; here a handler from outside stays, and one destroyed elsewhere is forgotten.
TEST(TCPConnectionHandler, OnlyAnOwnedHandlerIsFreedAndAGoneOneIsForgotten) {
    Connection t;
    t.Conn.SetIOHandler(t.Handler); // the same one again must not free it
    EXPECT_EQ(t.Destroyed, 0);
    {
        CountedHandler external(t.Destroyed);
        t.Conn.SetIOHandler(&external);
        EXPECT_EQ(t.Destroyed, 1) << "the owned one went";
        t.Conn.Disconnect();
        EXPECT_EQ(t.Conn.IOHandler(), &external);
        char byte;
        EXPECT_THROW(external.Recv(&byte, 1), EIdClosedSocket) << "closed";
    }
    EXPECT_EQ(t.Destroyed, 2);
    EXPECT_EQ(t.Conn.IOHandler(), nullptr) << "the connection kept a destroyed handler";
    EXPECT_NO_THROW(t.Conn.CheckForDisconnect(true, false));

    std::atomic<int> destroyed{0};
    int events = 0;
    {
        TIdTCPConnection conn;
        conn.OnStatus = [&](TIdComponent*, TIdStatus, const std::string&) { ++events; };
        conn.OnDisconnected = [&](TIdComponent*) { ++events; };
        conn.SetIOHandler(new CountedHandler(destroyed));
        conn.SetOwnsIOHandler(true);
    }
    EXPECT_EQ(destroyed, 1) << "destruction frees the owned handler";
    EXPECT_EQ(events, 0) << "destruction closes without events";
}

// The reader blocks in ReadLn while the test's thread (the window's thread) disconnects:
// that very read must end with an exception, whether the reader waited in Readable or was
// already inside Recv, and the handler must outlive the reader's use of it.
TEST(TCPConnectionThreads, DisconnectEndsABlockedReadLnWithAnException) {
    for (bool waitInRecv : {false, true}) {
        for (bool buffered : {false, true}) {
            SCOPED_TRACE(testing::Message() << "in Recv " << waitInRecv << ", rest " << buffered);
            Connection t;
            t.Handler->SetWaitInRecv(waitInRecv);
            if (buffered) {
                t.Handler->Receipt("abc");
            }
            auto reader = std::async(std::launch::async, [&]() -> std::string {
                try {
                    return "returned \"" + t.Conn.ReadLn() + "\"";
                } catch (const EIdException& e) {
                    return std::string("raised ") + e.what();
                }
            });
            ASSERT_TRUE(WaitUntil([&] { return t.Handler->Waiting() == 1; }));
            t.Conn.Disconnect();
            ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << "reader still blocked";
            const std::string outcome = reader.get();
            EXPECT_EQ(outcome.rfind("raised ", 0), 0u) << outcome;
            EXPECT_EQ(t.Destroyed, 1);
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
        EXPECT_EQ(disconnected, 1);
    }
}
