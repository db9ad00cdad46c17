// The stack's waits, receives and sends on loopback sockets it made itself.
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

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

// Waits on several handles are not made by the line path (it waits on one); one test for
// them: ready handles come back in the list's order, repeats once, each list counting apart;
// 65 handles raise; a handle that is not open, or a negative time-out other than infinite,
// fails the whole wait.
TEST_F(SelectTest, WaitsOnListsOfHandles) {
    TIdStackSocketHandle client2, server2;
    MakePair(client2, server2);
    TIdSocketHandles idle;
    for (int i = 0; i < 65; ++i) {
        idle.push_back(Own(Stack.NewSocketHandle(Id_SOCK_DGRAM, 0)));
    }
    ASSERT_EQ(Stack.Send(Client, "a", 1, 0), 1);
    ASSERT_EQ(Stack.Send(client2, "b", 1, 0), 1);
    TIdSocketHandles read{server2, idle[0], Server, server2};
    TIdSocketHandles write{Server};
    EXPECT_EQ(Stack.Select(&read, &write, nullptr, 1000), 3);
    EXPECT_EQ(read, (TIdSocketHandles{server2, Server}));
    EXPECT_EQ(write, TIdSocketHandles{Server});
    EXPECT_THROW(Stack.Select(nullptr, nullptr, &idle, 0), EIdStackSetSizeExceeded);
    const TIdStackSocketHandle closed = Stack.NewSocketHandle(Id_SOCK_DGRAM, 0);
    Stack.CloseSocket(closed);
    for (auto [bad, timeout, code] :
         {std::tuple{closed, 0, Id::WSAENOTSOCK}, std::tuple{Id_INVALID_SOCKET, 0, Id::WSAENOTSOCK},
          std::tuple{Server, Id::TimeoutDefault, Id::WSAEINVAL}}) {
        SCOPED_TRACE(bad);
        read = {Server, bad};
        write = {Server};
        EXPECT_EQ(Stack.Select(&read, &write, nullptr, timeout), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), code);
        EXPECT_TRUE(read.empty() && write.empty());
    }
}

// select()'s descriptor sets stop at 1024; a descriptor above that must still be waited on
// and read correctly.
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

// Sending on after the peer's close fails without SIGPIPE, which at its default action would
// end the test program.
TEST_F(SelectTest, SendingAfterThePeersCloseFailsWithoutSignal) {
    Stack.CloseSocket(Server);
    FOwned.erase(FOwned.begin() + 1);
    int32_t result = 0;
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        result = Stack.Send(Client, "data", 4, 0);
        return result < 0;
    }));
    const int32_t code = Stack.LastSocketError();
    EXPECT_TRUE(code == Id::WSAECONNRESET || code == Id::WSAESHUTDOWN) << code;
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
    // Signals until the wait ends: by its time-out, not by the first signal.
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return selectResult != 99;
    }));
    EXPECT_EQ(selectResult, 0);
    for (int i = 0; i < 3; ++i) { // in (or about to be in) Recv
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pthread_kill(waiter.native_handle(), SIGUSR1);
    }
    ASSERT_EQ(Stack.Send(Client, "ok", 2, 0), 2);
    waiter.join();
    EXPECT_EQ(recvResult, 2);
    sigaction(SIGUSR1, &previous, nullptr);
}
