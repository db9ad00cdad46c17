// Writing, handler ownership and the reader/window thread split, against an in-memory handler.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

using namespace std::chrono_literals;
using TestSupport::Raised;
using TestSupport::WaitUntil;

namespace {

// What a ReadLn on another thread ended with.
std::future<std::string> StartReader(TIdTCPConnection& AConn) {
    return std::async(std::launch::async, [&AConn]() -> std::string {
        try {
            return "returned \"" + AConn.ReadLn() + "\"";
        } catch (const EIdException& e) {
            return std::string("raised ") + e.what();
        }
    });
}

} // namespace

// Partial sends are repeated until all is sent; an empty write is no error even when not
// connected, any other write raises, after a peer close as the close.
TEST(TCPConnectionWrite, SendsEverythingOrRaisesWhenNotConnected) {
    ScriptedConnection t;
    t.Handler->SendLimit = 3;
    t.Conn.WriteLn("PRIVMSG #c :hello");
    t.Conn.Write("tail");
    EXPECT_EQ(t.Handler->Sent(), "PRIVMSG #c :hello\r\ntail");

    TIdTCPConnection unconnected;
    EXPECT_NO_THROW(unconnected.Write(""));
    EXPECT_NO_THROW(unconnected.WriteBytes(nullptr, 5));
    EXPECT_EQ(Raised<EIdNotConnected>([&] { unconnected.Write("x"); }), "Not Connected");
    ScriptedConnection closed;
    closed.Conn.Disconnect();
    EXPECT_NO_THROW(closed.Conn.Write(""));
    EXPECT_THROW(closed.Conn.WriteLn(""), EIdNotConnected);

    ScriptedConnection peerClosed;
    peerClosed.Handler->EndOfData();
    EXPECT_EQ(peerClosed.Conn.ReadAvailable(), "");
    EXPECT_THROW(peerClosed.Conn.WriteLn("QUIT"), EIdConnClosedGracefully);
    EXPECT_EQ(peerClosed.Handler->Sent(), "");
}

// The order of Disconnect's reports and the freeing of an owned handler are checked through
// the client; here a handler from outside stays, and one destroyed elsewhere is forgotten.
TEST(TCPConnectionHandler, OnlyAnOwnedHandlerIsFreedAndAGoneOneIsForgotten) {
    ScriptedConnection t;
    t.Conn.SetIOHandler(t.Handler); // the same one again must not free it
    EXPECT_EQ(t.Destroyed, 0);
    {
        ScriptedIOHandler external;
        external.Destroyed = &t.Destroyed;
        t.Conn.SetIOHandler(&external);
        EXPECT_EQ(t.Destroyed, 1) << "the owned one went";
        t.Conn.Disconnect();
        EXPECT_EQ(t.Conn.IOHandler(), &external);
        EXPECT_FALSE(external.Connected()) << "closed";
    }
    EXPECT_EQ(t.Destroyed, 2);
    EXPECT_EQ(t.Conn.IOHandler(), nullptr) << "the connection kept a destroyed handler";
    EXPECT_NO_THROW(t.Conn.CheckForDisconnect(true, false));

    std::atomic<int> destroyed{0};
    int events = 0;
    {
        ScriptedConnection owner;
        owner.Handler->Destroyed = &destroyed;
        owner.Conn.OnStatus = [&](TIdComponent*, TIdStatus, const std::string&) { ++events; };
        owner.Conn.OnDisconnected = [&](TIdComponent*) { ++events; };
    }
    EXPECT_EQ(destroyed, 1) << "destruction frees the owned handler";
    EXPECT_EQ(events, 0) << "destruction closes without events";
}

// The reader is inside Recv with an unterminated rest buffered when the window's thread
// disconnects: that read must raise the local close, not hand the rest out as an empty line
// (as after a peer's close), and the handler must outlive the reader's use of it.
TEST(TCPConnectionThreads, DisconnectDuringARecvWithARestBufferedRaises) {
    ScriptedConnection t;
    t.Handler->WaitInRecv = true;
    t.Handler->Receipt("abc");
    auto reader = StartReader(t.Conn);
    ASSERT_TRUE(WaitUntil([&] { return t.Handler->Waiting() == 1; }));
    t.Conn.Disconnect();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready) << "reader still blocked";
    EXPECT_EQ(reader.get(), "raised Disconnected.");
    EXPECT_EQ(t.Destroyed, 1);
}

// Both threads notice the same peer close. The reader is held just before it reports the
// close while the window's thread meets it and reports it: the reader must not report again.
TEST(TCPConnectionThreads, APeerCloseSeenFromBothThreadsIsReportedOnce) {
    ScriptedConnection t;
    std::atomic<int> disconnected{0};
    t.Conn.OnDisconnected = [&](TIdComponent*) { ++disconnected; };
    t.Handler->AfterEndGate.Arm();
    auto reader = StartReader(t.Conn);
    t.Handler->EndOfData();
    ASSERT_TRUE(t.Handler->AfterEndGate.WaitReturned()) << "the reader never met the close";
    EXPECT_FALSE(t.Conn.Connected());
    EXPECT_EQ(disconnected, 1);
    t.Handler->AfterEndGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "raised Connection Closed Gracefully.");
    EXPECT_EQ(disconnected, 1);
}
