// The worker thread base: its loop and hooks, stopping and ending, and its hand-offs to the
// window's thread through Synchronize (the way the IRC reader hands its lines over).
#include "IdException.h"
#include "IdMainThreadQueue.h"
#include "IdThread.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

using TestSupport::HangLimit;
using TestSupport::WaitUntil;
using TestSupport::Watchdog;
using Events = std::vector<std::string>;
using TestSupport::Raised;

namespace {

// Shared, so a free-on-terminate thread can still be checked after it deleted itself.
struct HookLog {
    void Add(const std::string& AEvent) {
        std::lock_guard lock(FMutex);
        FEvents.push_back(AEvent);
    }
    Events Get() {
        std::lock_guard lock(FMutex);
        return FEvents;
    }
    int Count(const std::string& AEvent) {
        const Events events = Get();
        return int(std::count(events.begin(), events.end(), AEvent));
    }
    std::mutex FMutex;
    Events FEvents;
};

// Data whose destruction is logged, to see when Cleanup freed it.
struct LoggedData : TIdThreadData {
    explicit LoggedData(std::shared_ptr<HookLog> ALog) : Log(std::move(ALog)) {}
    ~LoggedData() override { Log->Add("DataFreed"); }
    std::shared_ptr<HookLog> Log;
};

// A TIdThread that logs its hooks. ABody runs once per Run; without one Run only sleeps a
// moment.
class ProbeThread : public TIdThread {
public:
    using TBody = std::function<void(ProbeThread&)>;
    ProbeThread(std::shared_ptr<HookLog> ALog, TBody ABody = {}, bool AFreeOnTerminate = false)
        : TIdThread(true), Log(std::move(ALog)), FBody(std::move(ABody)) {
        SetFreeOnTerminate(AFreeOnTerminate);
    }
    ~ProbeThread() override { Log->Add("Destroyed"); }
    TBody BeforeRunBody; // runs inside BeforeRun, e.g. to throw there
    const std::shared_ptr<HookLog> Log;

protected:
    void AfterRun() override { Log->Add("AfterRun"); }
    void AfterExecute() override { Log->Add("AfterExecute"); }
    void BeforeExecute() override { Log->Add("BeforeExecute"); }
    void BeforeRun() override {
        Log->Add("BeforeRun"), BeforeRunBody ? BeforeRunBody(*this) : void();
    }
    void Cleanup() override { Log->Add("Cleanup"), TIdThread::Cleanup(); }
    void DoException(const std::exception& AException) override {
        Log->Add("DoException"), TIdThread::DoException(AException);
    }
    void DoStopped() override { Log->Add("DoStopped"), TIdThread::DoStopped(); }
    void Run() override {
        Log->Add("Run");
        FBody ? FBody(*this) : std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    TBody FBody;
};

} // namespace

// An exception from the loop runs every finally hook once, in the nesting order, is offered
// to DoException last (a handler that throws in turn is swallowed), and ends the thread with
// its message and dynamic type recorded. A thread waiting for itself raises, not hangs.
TEST(ThreadLoop, ExceptionEndsTheLoopThroughEveryHookOnce) {
    const struct {
        const char* why;
        bool inBeforeRun;
        ProbeThread::TBody raise;
        std::string message;
        const std::type_info& type;
    } cases[] = {
        {"a transport exception keeps its most derived class", false,
         [](ProbeThread&) { throw EIdConnClosedGracefully(); }, "Connection Closed Gracefully.",
         typeid(EIdConnClosedGracefully)},
        {"a non-standard exception gets a descriptive text", false, [](ProbeThread&) { throw 42; },
         "Exception of type int", typeid(int)},
        {"waiting for itself", false, [](ProbeThread& self) { self.WaitFor(); },
         "A thread cannot wait for itself.", typeid(EIdThreadWaitForSelf)},
        {"BeforeRun failing skips Run and AfterRun but not Cleanup", true,
         [](ProbeThread&) { throw EIdReadTimeout(); }, "Read Timeout", typeid(EIdReadTimeout)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        auto log = std::make_shared<HookLog>();
        TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, c.inBeforeRun ? nullptr : c.raise));
        thread->BeforeRunBody = c.inBeforeRun ? c.raise : nullptr;
        std::string seen;
        thread->OnException = [&](TIdThread*, const std::exception& AException) {
            seen = AException.what();
            throw std::logic_error("from the handler");
        };
        thread->Start();
        ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
        Events expected{"BeforeExecute", "BeforeRun",    "Run",        "AfterRun",
                        "Cleanup",       "AfterExecute", "DoException"};
        if (c.inBeforeRun) {
            expected.erase(expected.begin() + 2, expected.begin() + 4);
        }
        EXPECT_EQ(log->Get(), expected);
        EXPECT_EQ(thread->TerminatingException(), c.message);
        EXPECT_EQ(seen, c.message);
        ASSERT_NE(thread->TerminatingExceptionClass(), nullptr);
        EXPECT_EQ(*thread->TerminatingExceptionClass(), c.type);
        EXPECT_TRUE(thread->Terminated() && thread->Stopped());
    }
}

// Destroying a thread that was never started must not hang, and frees its Data. Free ends the
// thread before any destructor runs, so the derived hooks still fire.
TEST(ThreadEnd, DestroyingAnUnstartedThreadEndsIt) {
    for (const bool free : {false, true}) {
        SCOPED_TRACE(free ? "Free" : "delete");
        auto log = std::make_shared<HookLog>();
        auto* thread = new ProbeThread(log);
        thread->SetData(std::make_unique<LoggedData>(log));
        {
            Watchdog watchdog("destroying the thread");
            free ? TIdBaseThread::Free(thread) : delete thread;
        }
        EXPECT_EQ(log->Count("DataFreed"), 1);
        EXPECT_EQ(log->Count("AfterExecute"), free ? 1 : 0);
        EXPECT_EQ(log->Count("Run"), 0);
    }
}

namespace {

// The test's thread is the window's thread.
class MainThreadQueue : public ::testing::Test {
protected:
    void SetUp() override { Queue.RegisterMainThread(); }
    void TearDown() override { Queue.UnregisterMainThread(); }
    bool PendingReaches(size_t ACount) {
        return WaitUntil([&] { return Queue.PendingCount() == ACount; });
    }
    // A worker's one synchronized call, and what came back: "returned" or the exception's text.
    std::future<std::string> Post(std::function<void()> ACall, const void* AOwner = nullptr) {
        return std::async(std::launch::async, [this, ACall, AOwner]() -> std::string {
            try {
                Queue.Synchronize(ACall, AOwner);
                return "returned";
            } catch (const std::exception& e) {
                return e.what();
            }
        });
    }
    static std::string Outcome(std::future<std::string>& AFuture) {
        return AFuture.wait_for(HangLimit) == std::future_status::ready ? AFuture.get() : "hung";
    }

    TIdMainThreadQueue& Queue = TIdMainThreadQueue::Instance();
};
using Synchronize = MainThreadQueue;

} // namespace

// Run hands over through Synchronize, and an exception thrown on the window's thread ends
// the worker with that exception recorded. WaitFor on the window's thread runs the hand-offs.
TEST_F(Synchronize, RunsOnTheWindowsThreadAndItsExceptionEndsTheWorker) {
    std::vector<std::thread::id> ranOn; // written on this thread only
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(std::make_shared<HookLog>(), [&](ProbeThread& self) {
            self.Synchronize([&] {
                ranOn.push_back(std::this_thread::get_id());
                if (ranOn.size() == 3) {
                    throw EIdReadLnMaxLineLengthExceeded();
                }
            });
        }));
    thread->Start();
    ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
    EXPECT_EQ(ranOn, std::vector<std::thread::id>(3, std::this_thread::get_id()));
    EXPECT_EQ(thread->TerminatingException(), "Max line length exceeded.");
}

// Destroying a component while its reader is blocked in a hand-off: the window's thread ends
// the reader without ever waiting on it blindly.
TEST_F(Synchronize, TerminateAndWaitForServesAWorkerBlockedInSynchronize) {
    int handled = 0;
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(std::make_shared<HookLog>(),
                        [&](ProbeThread& self) { self.Synchronize([&] { ++handled; }); }));
    thread->Start();
    ASSERT_TRUE(PendingReaches(1));
    {
        Watchdog watchdog("TerminateAndWaitFor");
        thread->TerminateAndWaitFor();
    }
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(thread->TerminatingExceptionClass(), nullptr);
}

// The component destroyed from a nested event loop inside the very hand-off its reader is
// blocked in: discarding releases the reader, which ends and deletes itself, while the
// hand-off runs on to its end without writing into the gone reader.
TEST_F(Synchronize, ReaderBlockedInTheRunningHandOffCanBeEndedFromANestedLoop) {
    auto log = std::make_shared<HookLog>();
    bool released = false;
    std::shared_ptr<const std::atomic<bool>> ended;
    auto* reader = new ProbeThread(
        log,
        [&](ProbeThread& self) {
            self.Synchronize([&] {
                self.Terminate(); // what the component's disconnect does
                released = Queue.DiscardPendingUntil([&] { return ended->load(); }, &self,
                                                     HangLimit.count());
                throw EIdClosedSocket(); // nobody waits for it any more: dropped
            });
        },
        true);
    ended = reader->EndFlag();
    reader->Start();
    ASSERT_TRUE(Queue.ProcessPendingUntil([&] { return ended->load(); }, HangLimit.count()));
    EXPECT_TRUE(released);
    EXPECT_EQ(log->Count("Destroyed"), 1);
    EXPECT_EQ(log->Count("DoException"), 1); // the discarded hand-off ended it
}

// What lets the component use its reader reference safely: a free-on-terminate reader whose
// OnTerminate is bound stays alive until the window's thread has run that notification.
TEST_F(Synchronize, FreeOnTerminateThreadOutlivesItsPendingTerminateNotification) {
    auto log = std::make_shared<HookLog>();
    ProbeThread* reference = nullptr; // the owner's reference, cleared by the notification
    auto* thread = new ProbeThread(
        log, [](ProbeThread&) { throw EIdConnClosedGracefully(); }, true);
    thread->OnTerminate = [&](TIdBaseThread* ASender) {
        EXPECT_EQ(ASender, reference);
        reference = nullptr;
    };
    reference = thread;
    const auto ended = thread->EndFlag();
    thread->Start();
    ASSERT_TRUE(PendingReaches(1));
    EXPECT_TRUE(reference->Terminated() && !ended->load()); // still a live object
    ASSERT_TRUE(Queue.ProcessPendingUntil([&] { return ended->load(); }, HangLimit.count()));
    EXPECT_EQ(reference, nullptr);
    EXPECT_EQ(log->Count("Destroyed"), 1);
}

// A modal loop inside a call drains again: it runs the later calls, never the current one.
TEST_F(MainThreadQueue, NestedDrainRunsLaterCallsButNeverTheCurrentOneAgain) {
    std::vector<std::string> trace;
    size_t nestedRan = 99;
    size_t innermostRan = 99;
    auto outer = Post([&] {
        trace.push_back("outer begins");
        nestedRan = Queue.ProcessPending();
        trace.push_back("outer ends");
    });
    ASSERT_TRUE(PendingReaches(1));
    auto later = Post([&] {
        trace.push_back("later");
        innermostRan = Queue.ProcessPending(); // nothing left: the outer call is not re-run
    });
    ASSERT_TRUE(PendingReaches(2));
    EXPECT_EQ(Queue.ProcessPending(), 1u);
    EXPECT_EQ(nestedRan, 1u);
    EXPECT_EQ(innermostRan, 0u);
    EXPECT_EQ(trace, (std::vector<std::string>{"outer begins", "later", "outer ends"}));
}

// Discarding fails the owner's calls without running them; the others run in posting order.
TEST_F(MainThreadQueue, DiscardFailsOnlyTheOwnersCallsAndTheRestRunInOrder) {
    int a = 0, b = 0;
    const void* owners[] = {&a, &b, &a, &b, &b};
    std::vector<int> ran;
    std::vector<std::future<std::string>> posted;
    for (size_t i = 0; i < std::size(owners); ++i) {
        posted.push_back(Post([&ran, i] { ran.push_back(int(i)); }, owners[i]));
        ASSERT_TRUE(PendingReaches(i + 1));
    }
    EXPECT_EQ(Queue.DiscardPending(&a), 2u);
    EXPECT_EQ(Queue.ProcessPending(), 3u);
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
    for (size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(Outcome(posted[i]),
                  owners[i] == &a ? "Synchronized call discarded." : "returned");
    }
}

TEST_F(MainThreadQueue, OffTheWindowsThreadOrWithoutOneCallsFailInsteadOfHanging) {
    std::string error;
    std::thread([&] { error = Raised<EIdNotMainThread>([&] { Queue.ProcessPending(); }); }).join();
    EXPECT_EQ(error, "Synchronized calls can only be run on the main thread.");
    auto blocked = Post([] {});
    ASSERT_TRUE(PendingReaches(1));
    Queue.UnregisterMainThread(); // releases the blocked worker
    EXPECT_EQ(Outcome(blocked), "Synchronized call discarded.");
    auto late = Post([] {});
    EXPECT_EQ(Outcome(late), "No main thread to run a synchronized call.");
    EXPECT_FALSE(Queue.IsMainThread());
}

TEST_F(MainThreadQueue, WakeUpHookFiresFromTheWorkerForEachPostUntilCleared) {
    std::atomic<int> wakeUps{0};
    std::atomic<bool> offMain{false};
    Queue.SetWakeUp([&] {
        ++wakeUps;
        offMain = !Queue.IsMainThread();
    });
    for (int round = 0; round < 2; ++round) {
        auto worker = Post([] {});
        ASSERT_TRUE(PendingReaches(1));
        Queue.ProcessPending();
        Queue.SetWakeUp({});
    }
    EXPECT_EQ(wakeUps.load(), 1);
    EXPECT_TRUE(offMain.load());
}
