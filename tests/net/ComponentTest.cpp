#include "IdComponent.h"
#include "IdStack.h"
#include "IdStackPosix.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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
std::unique_ptr<TIdStack> CreateFailingStack() {
    throw std::runtime_error("no stack");
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
    SetStackClass(&CreateFailingStack);
    EXPECT_THROW(TIdComponent(), std::runtime_error);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    EXPECT_EQ(ActiveStack(), nullptr);
    SetStackClass(&CreateCountingStack);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = ActiveStack();
    ASSERT_NE(stack, nullptr);
    EXPECT_TRUE(StackStarted());
    auto second = std::make_unique<TIdComponent>();
    EXPECT_EQ(ActiveStack(), stack);
    EXPECT_EQ(TIdComponent::ComponentCount(), 2);
    first.reset();
    EXPECT_EQ(ActiveStack(), stack);
    EXPECT_EQ(gStacksFreed, 0);
    StackWatcher watcher;
    second->FreeNotification(&watcher);
    second.reset();
    EXPECT_TRUE(watcher.FSawStack);
    EXPECT_EQ(ActiveStack(), nullptr);
    EXPECT_EQ(gStacksCreated, 1);
    EXPECT_EQ(gStacksFreed, 1);

    // A second stack after the first was freed, and a working one.
    TIdComponent again;
    ASSERT_NE(ActiveStack(), nullptr);
    EXPECT_EQ(gStacksCreated, 2);
    EXPECT_EQ(ActiveStack()->ResolveHostName("localhost"), "127.0.0.1");
    const TIdStackSocketHandle s = ActiveStack()->NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    EXPECT_EQ(ActiveStack()->CloseSocket(s), 0);
}

// Components made and freed on several threads at once: every stack created is freed, and
// none is left behind.
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
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    EXPECT_EQ(ActiveStack(), nullptr);
    EXPECT_GE(gStacksCreated, 1);
    EXPECT_EQ(gStacksCreated, gStacksFreed);
}

TEST(ComponentWork, NestedBracketsRaiseOuterEventsOnceWithRunningTotals) {
    TIdComponent c;
    std::vector<std::string> log;
    c.OnWorkBegin = [&](TIdComponent* s, TWorkMode m, int32_t max) {
        EXPECT_EQ(s, &c);
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
    c.DoWork(wmRead, 1); // after the bracket: ignored
    c.EndWork(wmRead);   // unmatched: ignored, and the next bracket still works
    c.BeginWork(wmRead, 0);
    c.DoWork(wmRead, 2);
    c.EndWork(wmRead);

    const std::vector<std::string> expected = {
        "begin 0 100", "work 0 10", "begin 1 3", "work 1 3", "end 1", "work 0 30",
        "inner ended", "end 0",     "begin 0 0", "work 0 2", "end 0",
    };
    EXPECT_EQ(log, expected);
}

TEST(ComponentStatus, TextsWithAndWithoutArguments) {
    struct Case {
        TIdStatus status;
        const char* argument; // null: DoStatus without an argument
        std::string expected;
    };
    const Case cases[] = {{hsResolving, "irc.example.org", "Resolving hostname irc.example.org."},
                          {hsResolving, nullptr, "Resolving hostname ."},
                          {hsConnecting, "127.0.0.1", "Connecting to 127.0.0.1."},
                          {hsConnecting, nullptr, "Connecting to ."},
                          {hsConnected, "irc.example.org", "Connected."},
                          {hsDisconnecting, nullptr, "Disconnecting."},
                          {hsDisconnected, nullptr, "Disconnected."},
                          {hsStatusText, "%d %s %n", "%d %s %n"}, // never read as a format
                          {hsStatusText, nullptr, ""},
                          {ftpAborted, "z", "z"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        TIdComponent component;
        int calls = 0;
        component.OnStatus = [&](TIdComponent* sender, TIdStatus status, const std::string& text) {
            ++calls;
            EXPECT_EQ(sender, &component);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(text, c.expected);
        };
        c.argument ? component.DoStatus(c.status, c.argument) : component.DoStatus(c.status);
        EXPECT_EQ(calls, 1);
    }
}

namespace {

// Records every removal it hears of, so a repeated or stale one shows.
struct Holder : TIdComponent {
    std::vector<uintptr_t> FRemoved; // addresses: the objects are gone when checked
    bool FUnlinkWhenTold = false;
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        if (AOperation == opRemove) {
            FRemoved.push_back(reinterpret_cast<uintptr_t>(AComponent));
            if (FUnlinkWhenTold) {
                RemoveFreeNotification(AComponent); // already unlinked: must be harmless
            }
        }
        TIdComponent::Notification(AComponent, AOperation);
    }
};

} // namespace

// Each holder hears once of the target going, even one registered twice or one that unlinks
// while told; the target, itself registered with b, unlinks from it so b's later destruction
// does not call into freed memory (AddressSanitizer reports that).
TEST(FreeNotification, DestroyedTargetIsReportedOnceToEachHolder) {
    Holder a;
    Holder b;
    a.FUnlinkWhenTold = true;
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

TEST(FreeNotification, RemovedOrDestroyedHolderIsNotCalledLater) {
    auto holder = std::make_unique<Holder>();
    auto first = std::make_unique<TIdComponent>();
    first->FreeNotification(holder.get());
    first->RemoveFreeNotification(holder.get());
    first.reset();
    EXPECT_TRUE(holder->FRemoved.empty());
    auto target = std::make_unique<TIdComponent>();
    target->FreeNotification(holder.get());
    holder.reset(); // must unlink itself before the target goes
    target.reset();
}
