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

} // namespace

TEST_F(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
    EXPECT_EQ(ActiveStack(), nullptr);
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
    second.reset();
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

TEST_F(StackLifetime, FailedStackCreationLeavesCountForTheNextComponent) {
    SetStackClass(&CreateFailingStack);
    EXPECT_THROW(TIdComponent(), std::runtime_error);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    EXPECT_EQ(ActiveStack(), nullptr);
    SetStackClass(&CreateCountingStack);
    TIdComponent component;
    EXPECT_NE(ActiveStack(), nullptr);
    EXPECT_EQ(TIdComponent::ComponentCount(), 1);
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

namespace {
// Not a TIdComponent itself, so it does not keep the stack alive.
class StackWatcher : public TIdBaseComponent {
public:
    bool FSawStack = false;

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        FSawStack = ActiveStack() != nullptr;
        TIdBaseComponent::Notification(AComponent, AOperation);
    }
};
} // namespace

// The last component's holders hear of its removal while the stack still exists, so they
// can still close what they hold.
TEST_F(StackLifetime, RemovalIsReportedBeforeTheLastComponentFreesTheStack) {
    StackWatcher watcher;
    auto last = std::make_unique<TIdComponent>();
    last->FreeNotification(&watcher);
    last.reset();
    EXPECT_TRUE(watcher.FSawStack);
    EXPECT_EQ(ActiveStack(), nullptr);
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
    const Case cases[] = {
        {hsResolving, "irc.example.org", "Resolving hostname irc.example.org."},
        {hsResolving, nullptr, "Resolving hostname ."},
        {hsConnecting, "127.0.0.1", "Connecting to 127.0.0.1."},
        {hsConnecting, nullptr, "Connecting to ."},
        {hsConnected, "irc.example.org", "Connected."},
        {hsDisconnecting, nullptr, "Disconnecting."},
        {hsDisconnected, nullptr, "Disconnected."},
        {hsStatusText, "%d %s %n", "%d %s %n"}, // an argument is never read as a format
        {hsStatusText, nullptr, ""},
        {ftpTransfer, "x", "x"},
        {ftpReady, "y", "y"},
        {ftpAborted, "z", "z"},
    };
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
        if (c.argument != nullptr) {
            component.DoStatus(c.status, c.argument);
        } else {
            component.DoStatus(c.status);
        }
        EXPECT_EQ(calls, 1);
    }
}

namespace {

// Holds a reference to another component and clears it when told that one is going.
class Holder : public TIdComponent {
public:
    TIdBaseComponent* FRef = nullptr;
    std::vector<uintptr_t> FRemoved; // addresses: the objects are gone when checked
    bool FUnlinkWhenTold = false;

    void SetRef(TIdBaseComponent* ref) {
        if (FRef != nullptr) {
            FRef->RemoveFreeNotification(this);
        }
        FRef = ref;
        if (ref != nullptr) {
            ref->FreeNotification(this);
        }
    }

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        if (AOperation == opRemove && AComponent == FRef) {
            FRemoved.push_back(reinterpret_cast<uintptr_t>(AComponent));
            FRef = nullptr;
            if (FUnlinkWhenTold) {
                RemoveFreeNotification(AComponent); // already unlinked: must be harmless
            }
        }
        TIdComponent::Notification(AComponent, AOperation);
    }
};

} // namespace

TEST(FreeNotification, DestroyingTheReferencedComponentClearsTheReference) {
    Holder a;
    Holder b;
    a.FUnlinkWhenTold = true;
    b.FUnlinkWhenTold = false;
    auto target = std::make_unique<TIdComponent>();
    const auto raw = reinterpret_cast<uintptr_t>(target.get());
    a.SetRef(target.get());
    b.SetRef(target.get());
    target.reset();
    EXPECT_EQ(a.FRef, nullptr);
    EXPECT_EQ(b.FRef, nullptr);
    EXPECT_EQ(a.FRemoved, std::vector<uintptr_t>{raw});
    EXPECT_EQ(b.FRemoved, std::vector<uintptr_t>{raw});
}

// The holder going first must unlink itself, or the target's destruction would call into a
// destroyed object (AddressSanitizer reports that).
TEST(FreeNotification, HolderDestroyedFirstIsNotCalledLater) {
    auto target = std::make_unique<TIdComponent>();
    auto holder = std::make_unique<Holder>();
    holder->SetRef(target.get());
    holder.reset();
    target.reset();
    SUCCEED();
}

TEST(FreeNotification, ReplacedOrRemovedReferenceIsNoLongerReported) {
    Holder holder;
    auto first = std::make_unique<TIdComponent>();
    auto second = std::make_unique<TIdComponent>();
    holder.SetRef(first.get());
    holder.SetRef(second.get()); // unlinks the first
    first.reset();
    EXPECT_TRUE(holder.FRemoved.empty());
    EXPECT_EQ(holder.FRef, second.get());
    holder.SetRef(nullptr);
    second.reset();
    EXPECT_TRUE(holder.FRemoved.empty());
}

// Both sides may register each other; whichever goes first is reported once to the other.
TEST(FreeNotification, MutualRegistrationReportsOnceAndSurvivesRepeats) {
    auto a = std::make_unique<Holder>();
    Holder b;
    a->SetRef(&b);
    b.SetRef(a.get());
    a->FreeNotification(&b); // repeated registration adds nothing
    const auto raw = reinterpret_cast<uintptr_t>(a.get());
    a.reset();
    EXPECT_EQ(b.FRemoved, std::vector<uintptr_t>{raw});
    EXPECT_EQ(b.FRef, nullptr);
}
