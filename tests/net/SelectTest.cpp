#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A connected loopback TCP pair made through the stack; every socket made is closed at the end.
class SelectTest : public ::testing::Test {
protected:
    TIdComponent FHolder;
    TIdStack& Stack = *ActiveStack();
    TIdStackSocketHandle Client = Id_INVALID_SOCKET;
    TIdStackSocketHandle Server = Id_INVALID_SOCKET;
    std::vector<TIdStackSocketHandle> FOwned;

    void SetUp() override { MakePair(Client, Server); }
    void TearDown() override {
        for (TIdStackSocketHandle s : FOwned) {
            Stack.CloseSocket(s);
        }
    }
    TIdStackSocketHandle Own(TIdStackSocketHandle s) { return FOwned.push_back(s), s; }
    void CloseNow(TIdStackSocketHandle s) {
        FOwned.erase(std::find(FOwned.begin(), FOwned.end(), s));
        Stack.CloseSocket(s);
    }
    void MakePair(TIdStackSocketHandle& client, TIdStackSocketHandle& server) {
        const TIdStackSocketHandle listener = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
        Stack.CheckForSocketError(Stack.Bind(listener, Id_PF_INET, "127.0.0.1", 0));
        Stack.CheckForSocketError(Stack.Listen(listener, 1));
        int32_t family = 0, port = 0;
        std::string ip;
        Stack.SockName(listener, family, ip, port);
        client = Own(Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP));
        Stack.CheckForSocketError(Stack.Connect(client, Id_PF_INET, "127.0.0.1", port));
        server = Own(Stack.Accept(listener, ip, port));
        Stack.CloseSocket(listener);
    }
};

} // namespace

TEST_F(SelectTest, SixtyFourHandlesWorkAndSixtyFiveRaise) {
    TIdSocketHandles handles;
    for (int i = 0; i < 65; ++i) {
        handles.push_back(Own(Stack.NewSocketHandle(Id_SOCK_DGRAM, 0)));
    }
    TIdSocketHandles full(handles.begin(), handles.begin() + 64);
    TIdSocketHandles write = full;
    EXPECT_EQ(Stack.Select(nullptr, &write, nullptr, 0), 64); // unbound datagram: writable
    EXPECT_EQ(write, full);
    TIdSocketHandles read = full;
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(read.empty());

    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        TIdSocketHandles lists[3];
        lists[which] = handles;
        EXPECT_THROW(Stack.Select(&lists[0], &lists[1], &lists[2], 0), EIdStackSetSizeExceeded);
    }
}

// A wait with nothing ready waits its time; an infinite one ends when another thread sends.
TEST_F(SelectTest, TimesOutWithNothingReadyAndReportsDataWhenItArrives) {
    TIdSocketHandles read{Server};
    const auto start = Clock::now();
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, 300), 0);
    EXPECT_TRUE(read.empty());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250)); // it did wait
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Stack.Send(Client, "x", 1, 0);
    });
    read = {Server};
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, Id::TimeoutInfinite), 1);
    EXPECT_EQ(read, TIdSocketHandles{Server});
    sender.join();
}

// Ready handles come back in the list's order, repeats once, and each list counts apart.
TEST_F(SelectTest, ReadyHandlesKeepListOrderAndRepeatsCountOnce) {
    TIdStackSocketHandle client2, server2;
    MakePair(client2, server2);
    const TIdStackSocketHandle idle = Own(Stack.NewSocketHandle(Id_SOCK_DGRAM, 0));
    ASSERT_EQ(Stack.Send(Client, "a", 1, 0), 1);
    ASSERT_EQ(Stack.Send(client2, "b", 1, 0), 1);

    TIdSocketHandles read{server2, idle, Server, server2};
    TIdSocketHandles write{Server};
    EXPECT_EQ(Stack.Select(&read, &write, nullptr, 1000), 3);
    EXPECT_EQ(read, (TIdSocketHandles{server2, Server}));
    EXPECT_EQ(write, TIdSocketHandles{Server});
}

TEST_F(SelectTest, HandleNotOpenOrBadTimeOutFailsTheWaitAndClearsLists) {
    const TIdStackSocketHandle closed = Stack.NewSocketHandle(Id_SOCK_DGRAM, 0);
    Stack.CloseSocket(closed);
    for (TIdStackSocketHandle bad : {closed, Id_INVALID_SOCKET}) {
        SCOPED_TRACE(bad);
        TIdSocketHandles read{Server, bad};
        TIdSocketHandles write{Server};
        EXPECT_EQ(Stack.Select(&read, &write, nullptr, 0), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAENOTSOCK);
        EXPECT_TRUE(read.empty());
        EXPECT_TRUE(write.empty());
    }
    TIdSocketHandles read{Server}; // negative time-outs other than infinite are invalid
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, Id::TimeoutDefault), Id_SOCKET_ERROR);
    EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
}

// select()'s descriptor sets stop at 1024; a descriptor above that must still be waited on,
// read and closed correctly.
TEST_F(SelectTest, DescriptorAbove1023IsHandledSafely) {
    constexpr int kHigh = 1500;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, kHigh + 1);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) { // fails above the hard limit
        GTEST_SKIP() << "descriptor limit too low to test";
    }
    ASSERT_EQ(dup2(Server, kHigh), kHigh);
    Own(kHigh);

    TIdSocketHandles read{kHigh};
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, 0), 0);
    ASSERT_EQ(Stack.Send(Client, "hi", 2, 0), 2);
    read = {kHigh, Server};
    TIdSocketHandles write{kHigh};
    EXPECT_EQ(Stack.Select(&read, &write, nullptr, 5000), 3);
    EXPECT_EQ(read, (TIdSocketHandles{kHigh, Server}));
    char buffer[4] = {};
    EXPECT_EQ(Stack.Recv(kHigh, buffer, sizeof buffer, 0), 2);
}

// Shutting a socket down wakes another thread blocked reading it: the window's thread
// disconnects while the reader waits. Closing it must do the same (on this platform close()
// alone leaves the reader blocked), though ThreadSanitizer reports a close racing a read of
// the same descriptor, which is why the layers above shut down first and close once the
// reader has left.
TEST_F(SelectTest, ShutdownAndCloseWakeAThreadBlockedInRecv) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "shutdown");
#if defined(__SANITIZE_THREAD__)
        if (close) {
            continue;
        }
#endif
        TIdStackSocketHandle client, server;
        MakePair(client, server);
        std::atomic<int> result{99};
        std::thread reader([&] {
            char buffer[4];
            result = Stack.Recv(server, buffer, sizeof buffer, 0);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (close) {
            CloseNow(server);
        } else {
            EXPECT_EQ(Stack.Shutdown(server, Id_SD_Both), 0);
        }
        const auto start = Clock::now();
        reader.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_LE(result, 0);
    }
}

// The peer's close makes the socket readable with end of stream; sending on then fails without
// SIGPIPE, which at its default action would end the test program.
TEST_F(SelectTest, PeerCloseIsEndOfStreamAndSendingFailsWithoutSignal) {
    CloseNow(Server);
    TIdSocketHandles read{Client};
    EXPECT_EQ(Stack.Select(&read, nullptr, nullptr, 5000), 1);
    char buffer[4];
    EXPECT_EQ(Stack.Recv(Client, buffer, sizeof buffer, 0), 0);
    int32_t result = 0;
    const auto start = Clock::now();
    while (result >= 0 && Clock::now() - start < std::chrono::seconds(5)) {
        result = Stack.Send(Client, "data", 4, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(result, Id_SOCKET_ERROR);
    const int32_t code = Stack.LastSocketError();
    EXPECT_TRUE(code == Id::WSAECONNRESET || code == Id::WSAESHUTDOWN) << code;
}

// Each thread sees its own last error, both the platform's and the checked one.
TEST_F(SelectTest, LastErrorsArePerThread) {
    const TIdStackSocketHandle s = Own(Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP));
    int32_t family = 0, port = 0;
    std::string ip;
    EXPECT_THROW(Stack.PeerName(s, family, ip, port), EIdSocketError);
    ASSERT_EQ(Stack.LastError(), Id::WSAENOTCONN);
    std::thread other([&] {
        EXPECT_EQ(Stack.LastError(), 0);
        EXPECT_TRUE(Stack.CheckForSocketError(Stack.Recv(-1, nullptr, 0, 0), {Id::WSAEBADF}));
        EXPECT_EQ(Stack.LastError(), Id::WSAEBADF);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEBADF);
    });
    other.join();
    EXPECT_EQ(Stack.LastError(), Id::WSAENOTCONN);
    EXPECT_EQ(Stack.LastSocketError(), Id::WSAENOTCONN);
}

// A signal handled without restart interrupts the system calls; the stack must resume them
// (the remaining time for a wait) rather than report "Interrupted system call.".
TEST_F(SelectTest, SignalsDoNotBreakWaitsOrReads) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask); // and no SA_RESTART: calls fail with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<int32_t> selectResult{99};
    std::atomic<int32_t> recvResult{99};
    std::thread waiter([&] {
        TIdSocketHandles read{Server};
        selectResult = Stack.Select(&read, nullptr, nullptr, 400);
        char buffer[4];
        recvResult = Stack.Recv(Server, buffer, sizeof buffer, 0);
    });
    const auto start = Clock::now();
    const auto interrupt = [&] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            pthread_kill(waiter.native_handle(), SIGUSR1);
        }
    };
    interrupt(); // in Select
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return selectResult != 99; }));
    EXPECT_EQ(selectResult, 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    interrupt(); // in (or about to be in) Recv
    ASSERT_EQ(Stack.Send(Client, "ok", 2, 0), 2);
    waiter.join();
    EXPECT_EQ(recvResult, 2);
    sigaction(SIGUSR1, &previous, nullptr);
}
