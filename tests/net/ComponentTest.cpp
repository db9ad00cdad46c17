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
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

void Connect(TIdIOHandlerSocket& AHandler, const std::string& AHost, int32_t APort,
             int32_t ATimeout = Id::TimeoutDefault) {
    AHandler.Open();
    AHandler.ConnectClient(AHost, APort, "", 0, 0, 0, ATimeout);
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

class AntiFreeze : public ::testing::Test {
protected:
    void SetUp() override { TIdMainThreadQueue::Instance().RegisterMainThread(); }
    void Connected() {
        Connect(FHandler, "127.0.0.1", FListener.LocalPort());
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
    }
    void PeerSends() { ASSERT_EQ(::send(FPeer.Fd(), "x", 1, 0), 1); }

    CountingAntiFreeze FAntiFreeze;
    RawSocket FListener = RawSocket::Listener();
    RawSocket FPeer;
    TIdIOHandlerSocket FHandler;
};

class SocketHandle : public ::testing::Test {
protected:
    void Prepare(int32_t AMin, int32_t AMax) {
        FHandle.AllocateSocket();
        FHandle.SetIP("127.0.0.1");
        FHandle.SetPort(0);
        FHandle.SetClientPortMin(AMin);
        FHandle.SetClientPortMax(AMax);
    }

    TIdComponent FStackKeeper; // the handle's stack exists while a component does
    TIdSocketHandle FHandle;
};

// Answers Connected as a check made just before a close on another thread did: connected.
struct LateCloseHandler : TIdIOHandlerSocket {
    bool Connected() override { return true; }
};

} // namespace

// A failed creation leaves the count for the next component; the last component's holders
// hear of its removal while the stack still exists, so they can still close what they hold.
TEST(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    const TIdStackClass previous = StackClass();
    SetStackClass([]() -> std::unique_ptr<TIdStack> { throw std::runtime_error("no stack"); });
    EXPECT_THROW(TIdComponent(), std::runtime_error);
    SetStackClass(previous);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
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
    TIdComponent again; // a new stack after the first was freed
    EXPECT_EQ(ActiveStack()->ResolveHostName("localhost"), "127.0.0.1");
}

TEST(ComponentWork, NestedBracketsRaiseOuterEventsOnceWithRunningTotals) {
    TIdComponent c;
    std::vector<std::string> log;
    c.OnWorkBegin = [&](TIdComponent*, TWorkMode m, int32_t max) {
        log.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
    };
    c.OnWork = [&](TIdComponent*, TWorkMode m, int32_t count) {
        log.push_back("work " + std::to_string(m) + " " + std::to_string(count));
    };
    c.OnWorkEnd = [&](TIdComponent*, TWorkMode m) { log.push_back("end " + std::to_string(m)); };
    c.DoWork(wmRead, 5); // outside any bracket: ignored
    c.BeginWork(wmRead, 100);
    c.BeginWork(wmRead, 7); // inner: no event, maximum unchanged
    c.DoWork(wmRead, 10);
    c.BeginWork(wmWrite, 3); // the other direction has its own record
    c.DoWork(wmWrite, 3);
    c.EndWork(wmWrite);
    c.DoWork(wmRead, 20);
    c.EndWork(wmRead);
    log.push_back("inner ended");
    c.EndWork(wmRead);
    c.EndWork(wmRead); // unmatched: ignored, and the next bracket still works
    c.BeginWork(wmRead, 0);
    c.EndWork(wmRead);
    EXPECT_EQ(
        log, (std::vector<std::string>{"begin 0 100", "work 0 10", "begin 1 3", "work 1 3", "end 1",
                                       "work 0 30", "inner ended", "end 0", "begin 0 0", "end 0"}));
    std::string text; // a status text is passed on as it is, never read as a format
    c.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& AText) { text = AText; };
    c.DoStatus(hsStatusText, "%d %s %n");
    EXPECT_EQ(text, "%d %s %n");
}

// A wait on the window's thread is cut into slices of the idle time-out (at least
// MinIdleSlice) with processing after each; the slice that finds data is not idle. Idle
// time-outs of 0 or 1 once made the slicing recurse without end or once per slice.
TEST_F(AntiFreeze, ReadableWaitsInSlicesWithProcessingBetween) {
    Connected();
    const struct {
        const char* why;
        int32_t idle, wait;
        int sendAt; // the processing call that makes the peer send; 0: none
        bool readable;
        int calls;
    } cases[] = {
        {"120 ms in slices of 50, 50 and 20 ms", 50, 120, 0, false, 3},
        {"an infinite wait until data", 50, Id::TimeoutInfinite, 3, true, 3},
        {"idle 0: slices of the minimum", 0, 100, 0, false, 100 / TIdAntiFreezeBase::MinIdleSlice},
        {"idle below 0", -5, 100, 0, false, 100 / TIdAntiFreezeBase::MinIdleSlice},
        {"two million slices of 1 ms", 1, 2000000, 3, true, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        FAntiFreeze.SetIdleTimeOut(c.idle);
        FAntiFreeze.Calls = 0;
        FAntiFreeze.OnProcess = [&] { FAntiFreeze.Calls == c.sendAt ? PeerSends() : void(); };
        EXPECT_EQ(FHandler.Readable(c.wait), c.readable);
        EXPECT_EQ(FAntiFreeze.Calls, c.calls);
        char byte;
        ASSERT_EQ(c.readable ? FHandler.Recv(&byte, 1) : 1, 1);
    }
    // Never on another thread (a reader must not run the window's messages), nor inactive.
    FAntiFreeze.Calls = 0;
    std::thread([] { TIdAntiFreezeBase::DoProcess(true, true); }).join();
    FAntiFreeze.SetActive(false);
    TIdAntiFreezeBase::DoProcess(true, true);
    EXPECT_EQ(FAntiFreeze.Calls, 0);
}

// Without a time-out a connect still goes through the worker thread (120 s limit) while the
// hook runs, so a refusal arrives as the worker's error carried by EIdConnectException. An
// infinite wait with idle 0 sleeps in its slices of at least 1 ms until the peer sends 300 ms
// later: a spin would process thousands of times instead of about once a millisecond.
TEST_F(AntiFreeze, ConnectsThroughTheWorkerAndAnInfiniteWaitDoesNotSpin) {
    using Clock = std::chrono::steady_clock;
    FAntiFreeze.SetIdleTimeOut(50);
    EXPECT_EQ(
        Raised<EIdConnectException>([&] { Connect(FHandler, "127.0.0.1", FreeLoopbackPort(), 0); }),
        "Socket Error # 10061\r\nConnection refused.");
    EXPECT_GE(FAntiFreeze.Calls, 1);
    Connected();
    FAntiFreeze.SetIdleTimeOut(0);
    FAntiFreeze.Calls = 0;
    const auto start = Clock::now();
    bool sent = false;
    FAntiFreeze.OnProcess = [&] {
        if (!sent && Clock::now() - start >= std::chrono::milliseconds(300)) {
            sent = true;
            PeerSends();
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(FAntiFreeze.Calls, 2 * ms.count() + 10) << "in " << ms.count() << " ms";
}

// Three consecutive ports form the range; `free` says which of them are let go before the
// bind. The handle must take the highest free one. Binding again after allocating anew or a
// Reset finds the port free: the socket that held it was closed.
TEST_F(SocketHandle, PortRangeTriesFromMaximumDownToMinimum) {
    const struct {
        const char* why;
        std::vector<bool> free; // min, min + 1, max
        int expectedOffset;     // -1: nothing binds
    } cases[] = {
        {"all free: the maximum first", {true, true, true}, 2},
        {"maximum taken: the next one down", {true, true, false}, 1},
        {"only the minimum free", {true, false, false}, 0},
        {"all in use", {false, false, false}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<RawSocket> held = HoldPortRun(3);
        ASSERT_EQ(held.size(), 3u);
        const int32_t min = held[0].LocalPort();
        const int32_t max = held[2].LocalPort();
        for (size_t i = 0; i < 3; ++i) {
            if (c.free[i]) {
                held[i].Close();
            }
        }
        Prepare(min, max);
        if (c.expectedOffset < 0) {
            EXPECT_EQ(Raised<EIdCanNotBindPortInRange>([&] { FHandle.Bind(); }),
                      "Can not bind in port range (" + std::to_string(min) + " - " +
                          std::to_string(max) + ")");
        } else {
            FHandle.Bind();
            EXPECT_EQ(FHandle.Port(), min + c.expectedOffset);
        }
        FHandle.CloseSocket();
    }
    Prepare(6000, 5000);
    EXPECT_EQ(Raised<EIdInvalidPortRange>([&] { FHandle.Bind(); }),
              "Invalid Port Range (6000 - 5000)");
    for (bool reset : {false, true}) {
        Prepare(0, 0);
        FHandle.Bind();
        const auto port = uint16_t(FHandle.Port());
        reset ? FHandle.Reset(true) : FHandle.AllocateSocket();
        EXPECT_TRUE(RawSocket::Bound(port).Valid()) << "the port is still held";
    }
}

// Closing frees the descriptor (a second close is harmless). Without a socket, Readable raises
// and reads and writes fail like calls on a closed descriptor (10009), never a call on a stale
// descriptor number: here the old number is given to a connected socket whose peer has sent a
// byte, which must stay unread.
TEST_F(SocketHandle, UseWithoutSocketFailsAsOnAClosedDescriptor) {
    FHandle.AllocateSocket();
    const int fd = FHandle.Handle();
    FHandle.Readable(0); // holds a socket: answers without raising
    FHandle.CloseSocket();
    FHandle.CloseSocket();
    EXPECT_FALSE(DescriptorOpen(fd));
    EXPECT_THROW(FHandle.Readable(0), EIdConnClosedGracefully);
    RawSocket listener = RawSocket::Listener();
    RawSocket peer = RawSocket::Connected(listener.LocalPort());
    RawSocket newcomer = listener.Accept();
    ASSERT_EQ(::dup2(newcomer.Fd(), fd), fd);
    RawSocket reused(fd);
    ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1);
    char byte = 0;
    TIdStack& stack = *ActiveStack();
    EXPECT_EQ(FHandle.Recv(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    EXPECT_EQ(FHandle.Send(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    pollfd wait{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 1) << "the byte was taken by the closed handle";
}

// LOCALHOST in any case is a name (hsResolving) that resolves without a lookup; a dotted
// address is not resolved at all; any other name is looked up once.
TEST(IOHandlerSocket, ResolvingIsReportedForNamesOnlyAndLocalhostNeedsNoLookup) {
    ProbeStackScope probe;
    RawSocket listener = RawSocket::Listener();
    const struct {
        std::string host;
        bool resolving;
        int lookups;
    } cases[] = {{"LocalHost", true, 0}, {"127.0.0.1", false, 0}, {"irc.brisal.test", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        TIdIOHandlerSocket handler;
        ProbeStack::Active()->FakeHosts["irc.brisal.test"] = "127.0.0.1";
        std::string statuses;
        handler.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
            statuses += (statuses.empty() ? "" : " ") + text;
        };
        Connect(handler, c.host, listener.LocalPort());
        EXPECT_EQ(statuses, (c.resolving ? "Resolving hostname " + c.host + ". " : "") +
                                "Connecting to 127.0.0.1.");
        EXPECT_EQ(ProbeStack::Active()->Lookups.load(), c.lookups);
        EXPECT_TRUE(listener.Accept().Valid());
    }
}

// A Disconnect on the window's thread wakes a reader in recv at once but keeps the descriptor
// until the reader has left, so its number is not reused under it.
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
    RawSocket newcomer(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(newcomer.Fd(), fd) << "the number was reused under the reader";
    stack.RecvGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
    // A call that passed its check for a connection just before the close is this side's close
    // too, not the socket error of a call on no descriptor ("Socket Error # 10009").
    LateCloseHandler late;
    char byte = 'x';
    for (bool send : {false, true}) {
        SCOPED_TRACE(send ? "Send" : "Recv");
        Connect(late, "127.0.0.1", listener.LocalPort());
        RawSocket accepted = listener.Accept();
        late.Close();
        EXPECT_EQ(
            Raised<EIdClosedSocket>([&] { send ? late.Send(&byte, 1) : late.Recv(&byte, 1); }),
            "Disconnected.");
    }
}
