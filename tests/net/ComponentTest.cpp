// Components and their socket stack, the socket handle and the socket I/O handler (with the
// anti-freeze in its waits). Ports are found free or held at run time.
#include "IdAntiFreezeBase.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdMainThreadQueue.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "ProbeStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

void Connect(TIdIOHandlerSocket& AHandler, const std::string& AHost, int32_t APort) {
    AHandler.Open();
    AHandler.ConnectClient(AHost, APort, "", 0, 0, 0, Id::TimeoutDefault);
}

// Not a TIdComponent, so it does not keep the stack alive.
struct StackWatcher : TIdBaseComponent {
    bool FSawStack = false;
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        FSawStack = ActiveStack() != nullptr;
        TIdBaseComponent::Notification(AComponent, AOperation);
    }
};

struct CountingAntiFreeze : TIdAntiFreezeBase {
    void Process() override {
        ++Calls;
        RaiseEvent(OnProcess);
    }
    int Calls = 0;
    std::function<void()> OnProcess;
};

// Answers Connected as a check made just before a close on another thread did: connected.
struct LateCloseHandler : TIdIOHandlerSocket {
    bool Connected() override { return true; }
};

} // namespace

// The last component's holders hear of its removal while the stack still exists, so they can
// still close what they hold.
TEST(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = ActiveStack();
    auto second = std::make_unique<TIdComponent>();
    first.reset();
    EXPECT_EQ(ActiveStack(), stack);
    StackWatcher watcher;
    second->FreeNotification(&watcher);
    second.reset();
    EXPECT_TRUE(watcher.FSawStack);
    EXPECT_EQ(ActiveStack(), nullptr);
}

// A wait on the window's thread is cut into slices of the idle time-out (at least
// MinIdleSlice) with processing after each; the slice that finds data is not idle. An infinite
// wait with idle 0 sleeps in its slices until the peer sends 300 ms later: a spin would process
// thousands of times instead of about once a millisecond.
TEST(AntiFreeze, ReadableWaitsInSlicesWithProcessingBetween) {
    TIdMainThreadQueue::Instance().RegisterMainThread();
    CountingAntiFreeze antiFreeze;
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    Connect(handler, "127.0.0.1", listener.LocalPort());
    RawSocket peer = listener.Accept();
    const auto peerSends = [&] { ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1); };
    const struct {
        const char* why;
        int32_t idle, wait;
        int sendAt; // the processing call that makes the peer send; 0: none
        bool readable;
        int calls;
    } cases[] = {
        {"idle 0: slices of the minimum", 0, 100, 0, false, 100 / TIdAntiFreezeBase::MinIdleSlice},
        {"two million slices of 1 ms", 1, 2000000, 3, true, 3},
    };
    char byte;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        antiFreeze.SetIdleTimeOut(c.idle);
        antiFreeze.Calls = 0;
        antiFreeze.OnProcess = [&] { antiFreeze.Calls == c.sendAt ? peerSends() : void(); };
        EXPECT_EQ(handler.Readable(c.wait), c.readable);
        EXPECT_EQ(antiFreeze.Calls, c.calls);
        ASSERT_EQ(c.readable ? handler.Recv(&byte, 1) : 1, 1);
    }
    using Clock = std::chrono::steady_clock;
    antiFreeze.SetIdleTimeOut(0);
    antiFreeze.Calls = 0;
    const auto start = Clock::now();
    bool sent = false;
    antiFreeze.OnProcess = [&] {
        if (!sent && Clock::now() - start >= 300ms) {
            sent = true;
            peerSends();
        }
    };
    EXPECT_TRUE(handler.Readable(Id::TimeoutInfinite));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(antiFreeze.Calls, 2 * ms.count() + 10) << "in " << ms.count() << " ms";
}

// A range of one port binds that port: the search goes down to the range's minimum. After
// CloseSocket, reads and writes fail as on a closed descriptor (10009), never touching whatever
// socket has since been given the old number.
TEST(SocketHandle, BindsInItsRangeAndFailsAsClosedAfterClose) {
    TIdComponent stackKeeper; // the handle's stack exists while a component does
    TIdSocketHandle handle;
    const uint16_t port = FreeLoopbackPort();
    handle.AllocateSocket();
    handle.SetIP("127.0.0.1");
    handle.SetClientPortMin(port);
    handle.SetClientPortMax(port);
    handle.Bind();
    EXPECT_EQ(handle.Port(), port);
    const int fd = handle.Handle();
    handle.CloseSocket();
    RawSocket listener = RawSocket::Listener();
    RawSocket peer = RawSocket::Connected(listener.LocalPort());
    RawSocket newcomer = listener.Accept();
    ASSERT_EQ(::dup2(newcomer.Fd(), fd), fd);
    RawSocket reused(fd);
    ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1);
    char byte = 0;
    TIdStack& stack = *ActiveStack();
    EXPECT_EQ(handle.Recv(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    EXPECT_EQ(handle.Send(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    pollfd wait{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 1) << "the byte was taken by the closed handle";
}

// A Disconnect wakes a reader in recv at once but keeps the descriptor until the reader has
// left, so its number is not reused under it.
TEST(IOHandlerClose, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    ProbeStackScope probe; // first: the handler's stack must be a ProbeStack
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    Connect(handler, "127.0.0.1", listener.LocalPort());
    RawSocket peer = listener.Accept();
    ProbeStack& stack = *ProbeStack::Active();
    const int fd = handler.Binding()->Handle();
    stack.RecvGate.Arm();
    auto reader = std::async(std::launch::async, [&] {
        char buffer[64];
        return handler.Recv(buffer, sizeof(buffer));
    });
    RawSocket closesFirst = std::move(peer); // a failure must not leave the reader in recv
    ASSERT_TRUE(stack.RecvGate.WaitEntered());
    handler.Close();
    EXPECT_FALSE(handler.Connected()) << "marked closed at once";
    ASSERT_TRUE(stack.RecvGate.WaitReturned()) << "the close did not wake the reader";
    EXPECT_TRUE(DescriptorOpen(fd)) << "closed while a call was still on it";
    stack.RecvGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
    // A call that passed its check for a connection just before the close is this side's close
    // too, not the socket error of a call on no descriptor ("Socket Error # 10009").
    LateCloseHandler late;
    Connect(late, "127.0.0.1", listener.LocalPort());
    RawSocket accepted = listener.Accept();
    late.Close();
    char byte = 'x';
    EXPECT_EQ(Raised<EIdClosedSocket>([&] { late.Recv(&byte, 1); }), "Disconnected.");
}
