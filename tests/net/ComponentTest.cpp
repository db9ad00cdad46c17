// Components: the socket stack's lifetime, work brackets, free notifications and the
// anti-freeze, on its own and in the I/O handler's waits.
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
#include <cstdint>
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

class CountingStack : public TIdStackPosix {
public:
    CountingStack() { ++gStacksCreated; }
    ~CountingStack() override { ++gStacksFreed; }
};

std::unique_ptr<TIdStack> CreateCountingStack() {
    return std::make_unique<CountingStack>();
}

// Counts stack creations for the test's duration and puts the platform stack back after.
class StackLifetime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TIdComponent::ComponentCount(), 0);
        gStacksCreated = 0;
        gStacksFreed = 0;
        FPrevious = StackClass();
        SetStackClass(&CreateCountingStack);
    }
    void TearDown() override { SetStackClass(FPrevious); }
    TIdStackClass FPrevious = nullptr;
};

// Records every removal it hears of, so a repeated or stale one shows, and whether the stack
// still existed then.
struct Holder : TIdComponent {
    std::vector<uintptr_t> FRemoved; // addresses: the objects are gone when checked
    bool FSawStack = false;
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        if (AOperation == opRemove) {
            FRemoved.push_back(reinterpret_cast<uintptr_t>(AComponent));
            FSawStack = ActiveStack() != nullptr;
            RemoveFreeNotification(AComponent); // already unlinked: must be harmless
        }
        TIdComponent::Notification(AComponent, AOperation);
    }
};

// Not a TIdComponent itself, so it does not keep the stack alive.
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
TEST_F(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
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
}

// Components made and freed on several threads at once: every stack created is freed.
TEST_F(StackLifetime, ConcurrentComponentsShareAndReleaseTheStack) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                TIdComponent component;
                EXPECT_NE(ActiveStack(), nullptr);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(ActiveStack(), nullptr);
    EXPECT_GE(gStacksCreated, 1);
    EXPECT_EQ(gStacksCreated, gStacksFreed);
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
    // A status text is passed on as it is, never read as a format.
    std::string text;
    c.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& AText) { text = AText; };
    c.DoStatus(hsStatusText, "%d %s %n");
    EXPECT_EQ(text, "%d %s %n");
}

// Each holder hears once of the target going, even one registered twice or one that unlinks
// while told; the target, itself registered with b, unlinks from it so b's later destruction
// does not call into freed memory (AddressSanitizer reports that).
TEST(FreeNotification, DestroyedTargetIsReportedOnceToEachHolder) {
    Holder a;
    Holder b;
    auto target = std::make_unique<Holder>();
    const auto raw = reinterpret_cast<uintptr_t>(target.get());
    target->FreeNotification(&a);
    target->FreeNotification(&b);
    target->FreeNotification(&b);
    b.FreeNotification(target.get());
    target.reset();
    EXPECT_EQ(a.FRemoved, std::vector<uintptr_t>{raw});
    EXPECT_EQ(b.FRemoved, std::vector<uintptr_t>{raw});
}

namespace {

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    void Process() override { RaiseEvent(OnProcess, ++FCalls); }
    int FCalls = 0;
    std::function<void(int)> OnProcess;
};

class AntiFreeze : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread(); // plays the window's thread
        ASSERT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
    }
};

// Waits of the I/O handler on the window's thread while an anti-freeze is registered: they
// are cut into slices of its idle time-out with the hook's processing between them, and a
// connect without a time-out runs on the connect thread so it can be waited for in slices.
class AntiFreezeWait : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread();
        FAntiFreeze.SetIdleTimeOut(50);
    }
    void Connect(int32_t APort, int32_t ATimeout) {
        FHandler.Open();
        FHandler.ConnectClient("127.0.0.1", APort, "", 0, 0, 0, ATimeout);
    }

    CountingAntiFreeze FAntiFreeze;
    RawSocket FListener = RawSocket::Listener();
    TIdIOHandlerSocket FHandler;
};

} // namespace

// Process runs only on the window's thread, only while active, and during a busy wait only
// when asked to or when not limited to idle waits.
TEST_F(AntiFreeze, ProcessIsCalledOnlyWhenItShouldBe) {
    TIdAntiFreezeBase::DoProcess(true, true); // none registered: nothing to call
    CountingAntiFreeze af;
    struct Case {
        const char* why;
        bool active, onlyWhenIdle, idle, override, called;
    };
    const Case cases[] = {
        {"idle wait", true, true, true, false, true},
        {"busy wait, only when idle", true, true, false, false, false},
        {"busy wait, overridden", true, true, false, true, true},
        {"busy wait, not only when idle", true, false, false, false, true},
        {"inactive", false, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        af.SetActive(c.active);
        af.SetOnlyWhenIdle(c.onlyWhenIdle);
        af.FCalls = 0;
        TIdAntiFreezeBase::DoProcess(c.idle, c.override);
        EXPECT_EQ(af.FCalls, c.called ? 1 : 0);
        EXPECT_EQ(TIdAntiFreezeBase::ShouldUse(), c.active);
    }
    af.SetActive(true); // other threads never process, even when it is active
    bool shouldUse = true;
    std::thread([&] {
        shouldUse = TIdAntiFreezeBase::ShouldUse();
        TIdAntiFreezeBase::DoProcess(true, true);
    }).join();
    EXPECT_FALSE(shouldUse);
    EXPECT_EQ(af.FCalls, 0);
}

// Freeing an earlier anti-freeze after a later one replaced it must not unregister the later.
TEST_F(AntiFreeze, LaterReplacesEarlierAndSurvivesItsDestruction) {
    auto first = std::make_unique<CountingAntiFreeze>();
    CountingAntiFreeze second;
    first.reset();
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), &second);
    TIdAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(second.FCalls, 1);
}

TEST_F(AntiFreezeWait, ReadableProcessesBetweenSlices) {
    Connect(FListener.LocalPort(), 3000);
    RawSocket peer = FListener.Accept();
    ASSERT_TRUE(peer.Valid());
    int before = FAntiFreeze.FCalls;
    EXPECT_FALSE(FHandler.Readable(120)); // slices of 20, 50 and 50 ms
    EXPECT_EQ(FAntiFreeze.FCalls, before + 3);

    // The peer only sends from inside the third idle processing: an infinite wait goes on in
    // slices until then, and the slice that found data is not idle.
    before = FAntiFreeze.FCalls;
    FAntiFreeze.OnProcess = [&](int ACalls) {
        if (ACalls == before + 3) {
            ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1);
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    EXPECT_EQ(FAntiFreeze.FCalls, before + 3);
}

// Without a time-out the connect still goes through the worker (120 s limit), so a refusal
// arrives as the worker's error (10061 on the calling thread) carried by EIdConnectException,
// and the hook runs while it is awaited.
TEST_F(AntiFreezeWait, DefaultTimeoutConnectRunsOnTheConnectThread) {
    Connect(FListener.LocalPort(), Id::TimeoutDefault);
    EXPECT_TRUE(FHandler.Connected());
    EXPECT_GE(FAntiFreeze.FCalls, 1);
    EXPECT_EQ(TestSupport::Raised<EIdConnectException>([&] { Connect(FreeLoopbackPort(), 0); }),
              "Socket Error # 10061\r\nConnection refused.");
}
