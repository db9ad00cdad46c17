// The worker thread base: its loop and hooks, stopping and ending, and its hand-offs to the
// window's thread.
#include "IdException.h"
#include "IdMainThreadQueue.h"
#include "IdThread.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

using TestSupport::HangLimit;
using TestSupport::Raised;
using TestSupport::WaitUntil;
using TestSupport::Watchdog;
using Events = std::vector<std::string>;

namespace {

// Shared, so a free-on-terminate thread can still be checked after it deleted itself.
class HookLog {
public:
    void Add(const std::string& AEvent) {
        std::lock_guard<std::mutex> lock(FMutex);
        FEvents.push_back(AEvent);
    }
    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FEvents;
    }
    int Count(const std::string& AEvent) const {
        const auto events = Events();
        return static_cast<int>(std::count(events.begin(), events.end(), AEvent));
    }

private:
    mutable std::mutex FMutex;
    std::vector<std::string> FEvents;
};

// Data whose destruction is logged, to see when Cleanup freed it.
class LoggedData : public TIdThreadData {
public:
    explicit LoggedData(std::shared_ptr<HookLog> ALog) : FLog(std::move(ALog)) {}
    ~LoggedData() override { FLog->Add("DataFreed"); }

private:
    std::shared_ptr<HookLog> FLog;
};

class ProbeThread : public TIdThread {
public:
    using TBody = std::function<void(ProbeThread&)>;

    // ABody runs once per Run; without one Run only sleeps a moment so loops stay cheap.
    ProbeThread(std::shared_ptr<HookLog> ALog, bool ACreateSuspended, TBody ABody = {},
                bool AFreeOnTerminate = false)
        : TIdThread(ACreateSuspended), Log(std::move(ALog)), FBody(std::move(ABody)) {
        SetFreeOnTerminate(AFreeOnTerminate);
    }
    ~ProbeThread() override { Log->Add("Destroyed"); }

    int Runs() const { return FRuns.load(); }
    TBody BeforeRunBody; // runs inside BeforeRun, e.g. to throw there
    const std::shared_ptr<HookLog> Log;

protected:
    void AfterRun() override { Log->Add("AfterRun"); }
    void AfterExecute() override { Log->Add("AfterExecute"); }
    void BeforeExecute() override { Log->Add("BeforeExecute"); }
    void BeforeRun() override {
        Log->Add("BeforeRun");
        if (BeforeRunBody) {
            BeforeRunBody(*this);
        }
    }
    void Cleanup() override {
        Log->Add("Cleanup");
        TIdThread::Cleanup();
    }
    void DoException(const std::exception& AException) override {
        Log->Add("DoException");
        TIdThread::DoException(AException);
    }
    void DoStopped() override {
        Log->Add("DoStopped");
        TIdThread::DoStopped();
    }
    void Run() override {
        Log->Add("Run");
        ++FRuns;
        FBody ? FBody(*this) : std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    TBody FBody;
    std::atomic<int> FRuns{0};
};

// The events after the last occurrence of AMarker.
Events After(const Events& AEvents, const std::string& AMarker) {
    auto it = std::find(AEvents.rbegin(), AEvents.rend(), AMarker);
    return Events(it.base(), AEvents.end());
}

} // namespace

// An exception from the loop runs every finally hook once, in the nesting order, is offered
// to DoException last (a handler that throws in turn is swallowed), and ends the thread with
// its message and dynamic type recorded.
TEST(ThreadLoop, ExceptionEndsTheLoopThroughEveryHookOnce) {
    struct Case {
        const char* why;
        bool inBeforeRun;
        std::function<void()> raise;
        std::string message;
        const std::type_info& type;
    };
    const Case cases[] = {
        {"transport exception keeps its most derived class", false,
         [] { throw EIdConnClosedGracefully(); }, "Connection Closed Gracefully.",
         typeid(EIdConnClosedGracefully)},
        {"non-standard exception gets a descriptive text", false, [] { throw 42; },
         "Exception of type int", typeid(int)},
        {"a thrown C string is its own message", false, [] { throw "plain text"; }, "plain text",
         typeid(const char*)},
        {"BeforeRun failing skips Run and AfterRun but not Cleanup", true,
         [] { throw EIdReadTimeout(); }, "Read Timeout", typeid(EIdReadTimeout)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto log = std::make_shared<HookLog>();
        const auto raise = [r = c.raise](ProbeThread&) { r(); };
        TIdThreadPtr<ProbeThread> thread(
            new ProbeThread(log, true, c.inBeforeRun ? ProbeThread::TBody{} : raise));
        if (c.inBeforeRun) {
            thread->BeforeRunBody = raise;
        }
        std::string seenMessage;
        TIdThread* seenThread = nullptr;
        thread->OnException = [&](TIdThread* AThread, const std::exception& AException) {
            seenThread = AThread;
            seenMessage = AException.what();
            throw std::logic_error("from the handler");
        };
        thread->Start();
        ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
        Events expected{"BeforeExecute", "BeforeRun",    "Run",        "AfterRun",
                        "Cleanup",       "AfterExecute", "DoException"};
        if (c.inBeforeRun) {
            expected.erase(expected.begin() + 2, expected.begin() + 4);
        }
        EXPECT_EQ(log->Events(), expected);
        EXPECT_EQ(thread->TerminatingException(), c.message);
        ASSERT_NE(thread->TerminatingExceptionClass(), nullptr);
        EXPECT_EQ(*thread->TerminatingExceptionClass(), c.type);
        EXPECT_EQ(seenThread, thread.get());
        EXPECT_EQ(seenMessage, c.message);
        EXPECT_TRUE(thread->Terminated() && thread->Stopped());
    }
}

// Start on a running thread neither restarts the run phase nor stops it. Stopping twice in
// smTerminate ends it once, without DoStopped, with Data freed by the run phase's Cleanup and no
// terminating exception.
TEST(ThreadLoop, StartsOnlyWhenToldAndStopsOnce) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true));
    thread->SetData(std::make_unique<LoggedData>(log));
    EXPECT_TRUE(thread->Stopped());
    for (int i = 0; i < 3; ++i) {
        thread->Start();
        const int runs = thread->Runs();
        ASSERT_TRUE(WaitUntil([&] { return thread->Runs() > runs; }));
    }
    thread->Stop();
    thread->Stop();
    ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
    EXPECT_EQ(log->Count("BeforeRun"), 1);
    EXPECT_EQ(After(log->Events(), "Run"),
              (Events{"AfterRun", "Cleanup", "DataFreed", "AfterExecute"}));
    EXPECT_EQ(thread->Data(), nullptr);
    EXPECT_EQ(thread->TerminatingException(), "");
    EXPECT_EQ(thread->TerminatingExceptionClass(), nullptr);
}

// Stop in smSuspend lets the current Run complete, fires OnStopped and parks; Start runs the
// thread again from BeforeRun. OnStopped fires just before the thread decides to park, so a
// Start issued as soon as it is seen lands in that window: it must never be lost.
TEST(ThreadSuspend, StartRacingWithParkingIsNeverLost) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(log, true, [](ProbeThread&) { std::this_thread::yield(); }));
    thread->SetStopMode(smSuspend);
    std::atomic<int> stopsSeen{0};
    std::atomic<int> runPhases{0};
    thread->OnStopped = [&](TIdThread*) { ++stopsSeen; };
    thread->BeforeRunBody = [&](ProbeThread&) { ++runPhases; };
    thread->Start();
    for (int i = 0; i < 200; ++i) {
        // Wait for the run phase the last Start began, not a Run left over from before the
        // last Stop: a Stop that met the thread before it parked would be merged with that one.
        ASSERT_TRUE(WaitUntil([&] { return runPhases.load() == i + 1; })) << "round " << i;
        thread->Stop();
        const auto limit = std::chrono::steady_clock::now() + HangLimit;
        while (stopsSeen.load() != i + 1 && std::chrono::steady_clock::now() < limit) {
        } // spun, not slept on, so the Start follows OnStopped within microseconds
        ASSERT_EQ(stopsSeen.load(), i + 1) << "round " << i;
        thread->Start();
    }
    ASSERT_TRUE(WaitUntil([&] { return runPhases.load() == 201; }));
    thread->TerminateAndWaitFor();
}

// The destructor ends a parked or never-started thread itself: it must not hang, and it frees
// Data. Free ends the thread before any destructor runs, so the derived hooks still fire.
TEST(ThreadEnd, DestroyingAParkedOrUnstartedThreadEndsIt) {
    for (const bool start : {true, false}) {
        for (const bool free : {false, true}) {
            SCOPED_TRACE(std::string(start ? "parked, " : "never started, ") +
                         (free ? "freed" : "deleted"));
            auto log = std::make_shared<HookLog>();
            auto* thread = new ProbeThread(log, true);
            thread->SetStopMode(smSuspend);
            if (start) {
                thread->Start();
                ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
                thread->Stop();
                ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
            }
            thread->SetData(std::make_unique<LoggedData>(log));
            const int runs = thread->Runs();
            {
                TestSupport::Watchdog watchdog("destroying the thread");
                free ? TIdBaseThread::Free(thread) : delete thread;
            }
            EXPECT_EQ(log->Count("DataFreed"), 1);
            EXPECT_EQ(log->Count("AfterExecute"), free ? 1 : 0);
            EXPECT_EQ(log->Count("Run"), runs);
        }
    }
}

TEST(ThreadEnd, WaitingForItselfRaisesInsteadOfHanging) {
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(std::make_shared<HookLog>(), true,
                                                     [](ProbeThread& self) { self.WaitFor(); }));
    thread->Start();
    ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
    EXPECT_EQ(thread->TerminatingException(), "A thread cannot wait for itself.");
}

namespace {

// TIdThread::Synchronize over the process's queue, with the test's thread as the window's
// thread: the way the IRC reader hands its lines over.
class Synchronize : public ::testing::Test {
protected:
    void SetUp() override { Queue().RegisterMainThread(); }
    void TearDown() override { Queue().UnregisterMainThread(); }
    static TIdMainThreadQueue& Queue() { return TIdMainThreadQueue::Instance(); }
};

} // namespace

// The reader's pattern: Run hands over through Synchronize, and an exception thrown on the
// window's thread ends the worker with that exception recorded.
TEST_F(Synchronize, RunsOnTheWindowsThreadAndItsExceptionEndsTheWorker) {
    auto log = std::make_shared<HookLog>();
    std::vector<std::thread::id> ranOn; // written on this thread only
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true, [&](ProbeThread& self) {
        self.Synchronize([&] {
            ranOn.push_back(std::this_thread::get_id());
            if (ranOn.size() == 3) {
                throw EIdReadLnMaxLineLengthExceeded();
            }
        });
    }));
    thread->Start();
    // WaitFor on the window's thread runs the hand-offs while it waits.
    ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
    ASSERT_EQ(ranOn.size(), 3u);
    for (const std::thread::id& id : ranOn) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
    EXPECT_EQ(thread->Runs(), 3);
    EXPECT_EQ(thread->TerminatingException(), "Max line length exceeded.");
    ASSERT_NE(thread->TerminatingExceptionClass(), nullptr);
    EXPECT_EQ(*thread->TerminatingExceptionClass(), typeid(EIdReadLnMaxLineLengthExceeded));
}

// Destroying a component while its reader is blocked in a hand-off: the window's thread ends
// the reader without ever waiting on it blindly.
TEST_F(Synchronize, TerminateAndWaitForServesAWorkerBlockedInSynchronize) {
    auto log = std::make_shared<HookLog>();
    int handled = 0;
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(
        log, true, [&](ProbeThread& self) { self.Synchronize([&] { ++handled; }); }));
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return Queue().PendingCount() == 1; }));
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
    const void* owner = nullptr;
    auto* reader = new ProbeThread(
        log, true,
        [&](ProbeThread& self) {
            self.Synchronize([&] {
                self.Terminate(); // what the component's disconnect does
                released = Queue().DiscardPendingUntil([&] { return ended->load(); }, owner,
                                                       HangLimit.count());
                throw EIdClosedSocket(); // nobody waits for it any more: dropped
            });
        },
        true);
    ended = reader->EndFlag();
    owner = reader;
    reader->Start();
    ASSERT_TRUE(Queue().ProcessPendingUntil([&] { return ended->load(); }, HangLimit.count()));
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
        log, true, [](ProbeThread&) { throw EIdConnClosedGracefully(); }, true);
    std::thread::id ranOn;
    thread->OnTerminate = [&](TIdBaseThread* ASender) {
        EXPECT_EQ(ASender, reference);
        ranOn = std::this_thread::get_id();
        reference = nullptr;
    };
    reference = thread;
    const auto ended = thread->EndFlag();
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return Queue().PendingCount() == 1; }));
    EXPECT_FALSE(ended->load());
    EXPECT_TRUE(reference->Terminated()); // still a live object
    ASSERT_TRUE(Queue().ProcessPendingUntil([&] { return ended->load(); }, HangLimit.count()));
    EXPECT_EQ(reference, nullptr);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(log->Count("Destroyed"), 1);
}
