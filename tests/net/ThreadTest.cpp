#include "IdException.h"
#include "IdThread.h"
#include "ProbeThread.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

using TestSupport::WaitUntil;
using TestSupport::Watchdog;
using Events = std::vector<std::string>;

namespace {

// The events after the last occurrence of AMarker.
Events After(const Events& AEvents, const std::string& AMarker) {
    auto it = std::find(AEvents.rbegin(), AEvents.rend(), AMarker);
    return Events(it.base(), AEvents.end());
}

// Events other than the repeated Run entries, which depend on how fast the thread loops.
Events WithoutRuns(const Events& AEvents) {
    Events result;
    for (const std::string& e : AEvents) {
        if (e != "Run") {
            result.push_back(e);
        }
    }
    return result;
}

} // namespace

// An exception from the loop runs every finally hook once, in the nesting order, is offered
// to DoException last, and ends the thread with its message and dynamic type recorded.
TEST(ThreadLoop, ExceptionEndsTheLoopThroughEveryHookOnce) {
    struct Case {
        const char* why;
        bool inBeforeRun;
        std::function<void()> raise;
        std::string message;
        const std::type_info& type;
        Events events;
    };
    const Events fromRun = {"BeforeExecute", "BeforeRun",    "Run",        "AfterRun",
                            "Cleanup",       "AfterExecute", "DoException"};
    const Events fromBeforeRun = {"BeforeExecute", "BeforeRun", "Cleanup", "AfterExecute",
                                  "DoException"};
    const Case cases[] = {
        {"transport exception keeps its most derived class", false,
         [] { throw EIdConnClosedGracefully(); }, "Connection Closed Gracefully.",
         typeid(EIdConnClosedGracefully), fromRun},
        {"standard library exception", false, [] { throw std::runtime_error("bad state"); },
         "bad state", typeid(std::runtime_error), fromRun},
        {"non-standard exception gets a descriptive text", false, [] { throw 42; },
         "Exception of type int", typeid(int), fromRun},
        {"a thrown C string is its own message", false, [] { throw "plain text"; }, "plain text",
         typeid(const char*), fromRun},
        {"BeforeRun failing skips Run and AfterRun but not Cleanup", true,
         [] { throw EIdReadTimeout(); }, "Read Timeout", typeid(EIdReadTimeout), fromBeforeRun},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto log = std::make_shared<HookLog>();
        auto raise = c.raise;
        TIdThreadPtr<ProbeThread> thread(new ProbeThread(
            log, true, c.inBeforeRun ? ProbeThread::TBody{} : [raise](ProbeThread&) { raise(); }));
        if (c.inBeforeRun) {
            thread->BeforeRunBody = [raise](ProbeThread&) { raise(); };
        }
        std::string seenMessage;
        TIdThread* seenThread = nullptr;
        thread->OnException = [&](TIdThread* AThread, const std::exception& AException) {
            seenThread = AThread;
            seenMessage = AException.what();
        };
        thread->Start();
        ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
        EXPECT_EQ(log->Events(), c.events);
        EXPECT_EQ(thread->TerminatingException(), c.message);
        ASSERT_NE(thread->TerminatingExceptionClass(), nullptr);
        EXPECT_EQ(*thread->TerminatingExceptionClass(), c.type);
        EXPECT_EQ(seenThread, thread.get());
        EXPECT_EQ(seenMessage, c.message);
        EXPECT_TRUE(thread->Terminated());
        EXPECT_TRUE(thread->Stopped());
    }
}

TEST(ThreadLoop, HandlerThatThrowsDoesNotEscapeTheThread) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(log, true, [](ProbeThread&) { throw EIdClosedSocket(); }));
    thread->OnException = [](TIdThread*, const std::exception&) { throw std::logic_error("x"); };
    thread->Start();
    ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
    EXPECT_EQ(thread->TerminatingException(), "Disconnected.");
    EXPECT_TRUE(thread->Terminated());
}

TEST(ThreadLoop, CleanStopLeavesNoTerminatingException) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true));
    thread->SetData(std::make_unique<LoggedData>(log));
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 2; }));
    thread->Stop();
    ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
    EXPECT_EQ(thread->TerminatingException(), "");
    EXPECT_EQ(thread->TerminatingExceptionClass(), nullptr);
    // smTerminate ends without DoStopped; Data is freed by the run phase's Cleanup.
    EXPECT_EQ(WithoutRuns(log->Events()), (Events{"BeforeExecute", "BeforeRun", "AfterRun",
                                                  "Cleanup", "DataFreed", "AfterExecute"}));
    EXPECT_EQ(thread->Data(), nullptr);
}

// A thread created running must not run before the derived constructor has set its fields.
TEST(ThreadLoop, CreatedRunningStartsOnlyAfterTheWholeConstructorChain) {
    class SlowlyBuilt : public ProbeThread {
    public:
        explicit SlowlyBuilt(std::shared_ptr<HookLog> ALog)
            : ProbeThread(std::move(ALog), false, [this](ProbeThread& self) {
                  SeenValue.store(FValue);
                  self.Terminate();
              }) {
            // Gives an early start every chance to show.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            FValue = 42;
        }
        std::atomic<int> SeenValue{0};

    private:
        int FValue = 0;
    };
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<SlowlyBuilt> thread(TIdBaseThread::New<SlowlyBuilt>(log));
    ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
    EXPECT_EQ(thread->SeenValue.load(), 42);
    EXPECT_EQ(thread->Runs(), 1);
}

TEST(ThreadLoop, BuiltWithoutNewWaitsAtItsGateUntilStarted) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, false));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(thread->Runs(), 0);
    EXPECT_TRUE(thread->Stopped());
    thread->Start();
    EXPECT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
}

// Stop in smSuspend: the current Run completes, DoStopped fires, the thread parks; Start
// wakes it and BeforeRun runs again before the next Run. Data is freed by each phase's Cleanup.
TEST(ThreadSuspend, StopParksAndStartRunsAgainFromBeforeRun) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true));
    thread->SetStopMode(smSuspend);
    std::atomic<int> stoppedEvents{0};
    thread->OnStopped = [&](TIdThread*) { ++stoppedEvents; };
    thread->SetData(std::make_unique<LoggedData>(log));
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
    thread->Stop();
    ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
    const int runsWhenParked = thread->Runs();
    EXPECT_EQ(After(log->Events(), "Run"),
              (Events{"AfterRun", "Cleanup", "DataFreed", "DoStopped"}));
    EXPECT_EQ(stoppedEvents.load(), 1);
    EXPECT_FALSE(thread->Terminated());
    EXPECT_TRUE(thread->Stopped());

    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() > runsWhenParked; }));
    const Events resumed = After(log->Events(), "DoStopped");
    ASSERT_GE(resumed.size(), 2u);
    EXPECT_EQ(resumed[0], "BeforeRun");
    EXPECT_EQ(resumed[1], "Run");
    EXPECT_FALSE(thread->Stopped());

    thread->TerminateAndWaitFor();
    EXPECT_EQ(log->Count("BeforeExecute"), 1);
    EXPECT_EQ(log->Count("AfterExecute"), 1);
    EXPECT_EQ(log->Count("BeforeRun"), 2);
}

TEST(ThreadSuspend, StopTwiceIsStopOnce) {
    for (TIdThreadStopMode mode : {smSuspend, smTerminate}) {
        SCOPED_TRACE(mode == smSuspend ? "smSuspend" : "smTerminate");
        auto log = std::make_shared<HookLog>();
        TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true));
        thread->SetStopMode(mode);
        thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
        thread->Stop();
        thread->Stop();
        if (mode == smSuspend) {
            ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
            EXPECT_EQ(log->Count("DoStopped"), 1);
            // One Start undoes both Stops.
            const int runs = thread->Runs();
            thread->Start();
            EXPECT_TRUE(WaitUntil([&] { return thread->Runs() > runs; }));
            thread->TerminateAndWaitFor();
        } else {
            ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
            EXPECT_EQ(log->Count("DoStopped"), 0);
        }
        EXPECT_EQ(log->Count("AfterExecute"), 1);
        EXPECT_EQ(thread->TerminatingExceptionClass(), nullptr);
    }
}

TEST(ThreadSuspend, StartOnARunningThreadDoesNothing) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(TIdBaseThread::New<ProbeThread>(log, false));
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 2; }));
    thread->Start();
    thread->Start();
    const int runs = thread->Runs();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= runs + 2; }));
    EXPECT_EQ(log->Count("BeforeRun"), 1);
    EXPECT_EQ(log->Count("DoStopped"), 0);
    thread->TerminateAndWaitFor();
    EXPECT_EQ(log->Count("BeforeRun"), 1);
}

// A Start that races with the thread parking must never be lost. OnStopped fires just before
// the thread decides to park, so a Start issued as soon as it is seen lands in that window.
TEST(ThreadSuspend, StartRacingWithParkingIsNeverLost) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(log, true, [](ProbeThread&) { std::this_thread::yield(); }));
    thread->SetStopMode(smSuspend);
    std::atomic<int> stopsSeen{0};
    thread->OnStopped = [&](TIdThread*) { ++stopsSeen; };
    thread->Start();
    for (int i = 0; i < 200; ++i) {
        const int runs = thread->Runs();
        thread->Stop();
        // Spun, not slept on, so the Start follows OnStopped within microseconds.
        const auto limit = std::chrono::steady_clock::now() + TestSupport::HangLimit;
        while (stopsSeen.load() != i + 1 && std::chrono::steady_clock::now() < limit) {
        }
        ASSERT_EQ(stopsSeen.load(), i + 1) << "round " << i;
        thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return thread->Runs() > runs; })) << "round " << i;
    }
    thread->TerminateAndWaitFor();
}

TEST(ThreadEnd, TerminateAndWaitForOnFreeOnTerminateThreadRaisesAndChangesNothing) {
    auto log = std::make_shared<HookLog>();
    ProbeThread* thread = TIdBaseThread::New<ProbeThread>(log, false, ProbeThread::TBody{}, true);
    const auto ended = thread->EndFlag();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
    try {
        thread->TerminateAndWaitFor();
        ADD_FAILURE() << "no exception";
    } catch (const EIdThreadTerminateAndWaitFor& e) {
        EXPECT_STREQ(e.what(), "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
    }
    EXPECT_FALSE(thread->Terminated());
    EXPECT_FALSE(thread->Stopped());
    EXPECT_TRUE(thread->FreeOnTerminate());
    const int runs = thread->Runs();
    EXPECT_TRUE(WaitUntil([&] { return thread->Runs() > runs; }));
    thread->Terminate(); // the last touch: from here on it may be gone
    ASSERT_TRUE(WaitUntil([&] { return ended->load(); }));
    EXPECT_EQ(log->Count("Destroyed"), 1);
}

TEST(ThreadEnd, FreeOnTerminateThreadDeletesItselfOnce) {
    struct Case {
        const char* why;
        ProbeThread::TBody body;
    };
    const Case cases[] = {
        {"ended by an exception", [](ProbeThread&) { throw EIdConnClosedGracefully(); }},
        {"ended by terminating itself", [](ProbeThread& self) { self.Terminate(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto log = std::make_shared<HookLog>();
        std::shared_ptr<const std::atomic<bool>> ended;
        {
            ProbeThread* thread = new ProbeThread(log, true, c.body, true);
            thread->SetData(std::make_unique<LoggedData>(log));
            ended = thread->EndFlag();
            thread->Start();
        }
        ASSERT_TRUE(WaitUntil([&] { return ended->load(); }));
        EXPECT_EQ(log->Count("Destroyed"), 1);
        EXPECT_EQ(log->Count("DataFreed"), 1);
        EXPECT_EQ(log->Count("AfterExecute"), 1);
    }
}

// The destructor ends a parked or never-started thread itself: it must not hang, and it frees
// Data. Free ends the thread before any destructor runs, so the derived hooks still fire.
TEST(ThreadEnd, DestroyingAParkedOrUnstartedThreadEndsIt) {
    struct Case {
        const char* why;
        bool start;
        bool free;
        int derivedAfterExecute;
    };
    const Case cases[] = {
        {"parked, deleted", true, false, 0},
        {"parked, freed", true, true, 1},
        {"never started, deleted", false, false, 0},
        {"never started, freed", false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto log = std::make_shared<HookLog>();
        auto* thread = new ProbeThread(log, true);
        thread->SetStopMode(smSuspend);
        if (c.start) {
            thread->Start();
            ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
            thread->Stop();
            ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
        }
        thread->SetData(std::make_unique<LoggedData>(log));
        const int runs = thread->Runs();
        {
            Watchdog watchdog(c.why);
            if (c.free) {
                TIdBaseThread::Free(thread);
            } else {
                delete thread;
            }
        }
        EXPECT_EQ(log->Count("DataFreed"), 1);
        EXPECT_EQ(log->Count("AfterExecute"), c.derivedAfterExecute);
        EXPECT_EQ(log->Count("Run"), runs);
    }
}

TEST(ThreadEnd, TerminateDoesNotWaitAndWaitForSeesTheEnd) {
    auto log = std::make_shared<HookLog>();
    std::atomic<bool> release{false};
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(
        log, true, [&](ProbeThread&) { WaitUntil([&] { return release.load(); }); }));
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() == 1; }));
    thread->Terminate();
    EXPECT_TRUE(thread->Stopped());
    EXPECT_FALSE(thread->Finished());
    EXPECT_FALSE(thread->WaitFor(10)); // still inside Run: a blocked Run is not interrupted
    release = true;
    EXPECT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
    EXPECT_EQ(thread->Runs(), 1);
}

TEST(ThreadEnd, WaitingForItselfRaisesInsteadOfHanging) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(
        new ProbeThread(log, true, [](ProbeThread& self) { self.WaitFor(); }));
    thread->Start();
    ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
    EXPECT_EQ(thread->TerminatingException(), "A thread cannot wait for itself.");
}
