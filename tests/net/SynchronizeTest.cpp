// TIdThread::Synchronize over the process's queue, with the test's thread as the window's
// thread: the way the IRC reader hands its lines over.
#include "IdMainThreadQueue.h"
#include "IdThread.h"
#include "ProbeThread.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using TestSupport::WaitUntil;
using TestSupport::Watchdog;

namespace {

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
    ASSERT_TRUE(thread->WaitFor(TestSupport::HangLimit.count()));
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
                                                       TestSupport::HangLimit.count());
                throw EIdClosedSocket(); // nobody waits for it any more: dropped
            });
        },
        true);
    ended = reader->EndFlag();
    owner = reader;
    reader->Start();
    ASSERT_TRUE(
        Queue().ProcessPendingUntil([&] { return ended->load(); }, TestSupport::HangLimit.count()));
    EXPECT_TRUE(released);
    EXPECT_EQ(log->Count("Destroyed"), 1);
    EXPECT_EQ(log->Count("DoException"), 1); // the discarded hand-off ended it
}

// What lets the component use its reader reference safely: a free-on-terminate reader whose
// OnTerminate is bound stays alive until the window's thread has run that notification.
// Without a window's thread the notification is skipped and the thread still ends.
TEST_F(Synchronize, FreeOnTerminateThreadOutlivesItsPendingTerminateNotification) {
    for (const bool registered : {true, false}) {
        SCOPED_TRACE(registered ? "window's thread registered" : "no window's thread");
        if (!registered) {
            Queue().UnregisterMainThread();
        }
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
        if (!registered) {
            ASSERT_TRUE(WaitUntil([&] { return ended->load(); }));
            EXPECT_NE(reference, nullptr); // skipped; the pointer is stale now
            EXPECT_EQ(log->Count("Destroyed"), 1);
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return Queue().PendingCount() == 1; }));
        EXPECT_FALSE(ended->load());
        EXPECT_TRUE(reference->Terminated()); // still a live object
        EXPECT_EQ(log->Count("Destroyed"), 0);
        ASSERT_TRUE(Queue().ProcessPendingUntil([&] { return ended->load(); },
                                                TestSupport::HangLimit.count()));
        EXPECT_EQ(reference, nullptr);
        EXPECT_EQ(ranOn, std::this_thread::get_id());
        EXPECT_EQ(log->Count("Destroyed"), 1);
    }
}
