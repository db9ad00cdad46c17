// Components: the socket stack's lifetime, work brackets and the anti-freeze, on its own and
// in the I/O handler's waits.
#include "IdAntiFreezeBase.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdMainThreadQueue.h"
#include "IdStack.h"
#include "IdStackPosix.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gStacksCreated{0};
std::atomic<int> gStacksFreed{0};

struct CountingStack : TIdStackPosix {
    CountingStack() { ++gStacksCreated; }
    ~CountingStack() override { ++gStacksFreed; }
};

std::unique_ptr<TIdStack> CreateCountingStack() {
    return std::make_unique<CountingStack>();
}

// Not a TIdComponent, so it does not keep the stack alive.
struct StackWatcher : TIdBaseComponent {
    bool FSawStack = false;
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        FSawStack = ActiveStack() != nullptr;
        TIdBaseComponent::Notification(AComponent, AOperation);
    }
};

} // namespace

// A failed creation leaves the count for the next component; the last component's holders
// hear of its removal while the stack still exists, so they can still close what they hold.
TEST(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    const TIdStackClass previous = StackClass();
    SetStackClass([]() -> std::unique_ptr<TIdStack> { throw std::runtime_error("no stack"); });
    EXPECT_THROW(TIdComponent(), std::runtime_error);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    SetStackClass(&CreateCountingStack);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = ActiveStack();
    ASSERT_NE(stack, nullptr);
    auto second = std::make_unique<TIdComponent>();
    first.reset();
    EXPECT_EQ(ActiveStack(), stack);
    EXPECT_EQ(gStacksFreed, 0);
    StackWatcher watcher;
    second->FreeNotification(&watcher);
    second.reset();
    EXPECT_TRUE(watcher.FSawStack);
    EXPECT_EQ(ActiveStack(), nullptr);
    EXPECT_EQ(gStacksFreed, 1);
    TIdComponent again; // a second stack after the first was freed
    EXPECT_EQ(gStacksCreated, 2);
    EXPECT_EQ(ActiveStack()->ResolveHostName("localhost"), "127.0.0.1");
    SetStackClass(previous);
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

namespace {

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
    void Connect(int32_t APort, int32_t ATimeout) {
        FHandler.Open();
        FHandler.ConnectClient("127.0.0.1", APort, "", 0, 0, 0, ATimeout);
    }
    void Connected() {
        Connect(FListener.LocalPort(), Id::TimeoutDefault);
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
    }
    void PeerSends() { ASSERT_EQ(::send(FPeer.Fd(), "x", 1, 0), 1); }

    std::unique_ptr<CountingAntiFreeze> FOwned = std::make_unique<CountingAntiFreeze>();
    CountingAntiFreeze& FAntiFreeze = *FOwned;
    RawSocket FListener = RawSocket::Listener();
    RawSocket FPeer;
    TIdIOHandlerSocket FHandler;
};

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

} // namespace

// Process runs only on the window's thread (a reader thread must never run the window's
// messages), only while active, and in a busy wait only when not limited to idle waits. Freeing an
// earlier anti-freeze after a later one replaced it keeps the later.
TEST_F(AntiFreeze, ProcessIsCalledOnlyWhenItShouldBe) {
    CountingAntiFreeze af;
    FOwned.reset();
    ASSERT_EQ(TIdAntiFreezeBase::Registered(), &af);
    const struct {
        const char* why;
        bool active, onlyWhenIdle, idle, override, called;
    } cases[] = {
        {"idle wait", true, true, true, false, true},
        {"busy wait, only when idle", true, true, false, false, false},
        {"busy wait, not only when idle", true, false, false, false, true},
        {"inactive", false, false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        af.SetActive(c.active);
        af.SetOnlyWhenIdle(c.onlyWhenIdle);
        af.Calls = 0;
        TIdAntiFreezeBase::DoProcess(c.idle, c.override);
        EXPECT_EQ(af.Calls, c.called ? 1 : 0);
    }
    af.SetActive(true);
    std::thread([] { TIdAntiFreezeBase::DoProcess(true, true); }).join();
    EXPECT_EQ(af.Calls, 0);
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
}

// The peer sends only once 300 ms have passed; until then the waiting thread sleeps in its
// slices. A spin polls without a pause and uses about as much CPU as time passes.
TEST_F(AntiFreeze, AnInfiniteWaitWithIdleZeroDoesNotSpin) {
    using Clock = std::chrono::steady_clock;
    Connected();
    FAntiFreeze.SetIdleTimeOut(0);
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    bool sent = false;
    FAntiFreeze.OnProcess = [&] {
        if (!sent && Clock::now() - start >= std::chrono::milliseconds(300)) {
            sent = true;
            PeerSends();
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    const double cpu = ThreadCpuMs() - cpuStart;
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(cpu, wall / 6) << cpu << " ms of CPU in " << wall << " ms";
}

// Without a time-out the connect still goes through the worker (120 s limit), so a refusal
// arrives as the worker's error (10061 on the calling thread) carried by EIdConnectException,
// and the hook runs while it is awaited.
TEST_F(AntiFreeze, DefaultTimeoutConnectRunsOnTheConnectThread) {
    FAntiFreeze.SetIdleTimeOut(50);
    Connect(FListener.LocalPort(), Id::TimeoutDefault);
    EXPECT_TRUE(FHandler.Connected());
    EXPECT_GE(FAntiFreeze.Calls, 1);
    EXPECT_EQ(TestSupport::Raised<EIdConnectException>([&] { Connect(FreeLoopbackPort(), 0); }),
              "Socket Error # 10061\r\nConnection refused.");
}
