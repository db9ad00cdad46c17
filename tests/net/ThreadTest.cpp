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

using TestSupport::HangLimit;
using TestSupport::Raised;
using TestSupport::WaitUntil;
using Events = std::vector<std::string>;

namespace {

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
        {"standard library exception", false, [] { throw std::runtime_error("bad state"); },
         "bad state", typeid(std::runtime_error)},
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

// A thread created running must not run before the derived constructor has set its fields.
TEST(ThreadLoop, CreatedRunningStartsOnlyAfterTheWholeConstructorChain) {
    struct SlowlyBuilt : ProbeThread {
        explicit SlowlyBuilt(std::shared_ptr<HookLog> ALog)
            : ProbeThread(std::move(ALog), false, [this](ProbeThread& self) {
                  Seen = Value;
                  self.Terminate();
              }) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // room for an early start
            Value = 42;
        }
        int Value = 0;
        std::atomic<int> Seen{0};
    };
    TIdThreadPtr<SlowlyBuilt> thread(TIdBaseThread::New<SlowlyBuilt>(std::make_shared<HookLog>()));
    ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
    EXPECT_EQ(thread->Seen.load(), 42);
    EXPECT_EQ(thread->Runs(), 1);
}

// A suspended thread waits at its gate; Start on a running thread neither restarts the run
// phase nor stops it. Stopping twice in smTerminate ends it once, without DoStopped, with Data
// freed by the run phase's Cleanup and no terminating exception.
TEST(ThreadLoop, StartsOnlyWhenToldAndStopsOnce) {
    auto log = std::make_shared<HookLog>();
    TIdThreadPtr<ProbeThread> thread(new ProbeThread(log, true));
    thread->SetData(std::make_unique<LoggedData>(log));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(thread->Runs(), 0);
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

TEST(ThreadEnd, TerminateAndWaitForOnFreeOnTerminateThreadRaisesAndChangesNothing) {
    auto log = std::make_shared<HookLog>();
    ProbeThread* thread = TIdBaseThread::New<ProbeThread>(log, false, ProbeThread::TBody{}, true);
    thread->SetData(std::make_unique<LoggedData>(log));
    const auto ended = thread->EndFlag();
    ASSERT_TRUE(WaitUntil([&] { return thread->Runs() >= 1; }));
    EXPECT_EQ(Raised<EIdThreadTerminateAndWaitFor>([&] { thread->TerminateAndWaitFor(); }),
              "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
    EXPECT_FALSE(thread->Terminated());
    EXPECT_FALSE(thread->Stopped());
    const int runs = thread->Runs();
    EXPECT_TRUE(WaitUntil([&] { return thread->Runs() > runs; }));
    thread->Terminate(); // the last touch: from here on it may be gone
    ASSERT_TRUE(WaitUntil([&] { return ended->load(); }));
    EXPECT_EQ(log->Count("Destroyed"), 1);
    EXPECT_EQ(log->Count("DataFreed"), 1);
    EXPECT_EQ(log->Count("AfterExecute"), 1);
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
