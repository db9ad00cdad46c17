// The call queue on its own: a local queue, plain std::threads as workers, the test's thread
// as the window's thread.
#include "IdMainThreadQueue.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using TestSupport::WaitUntil;

namespace {

// A worker that makes one synchronized call and keeps what came back.
class Poster {
public:
    Poster(TIdMainThreadQueue& AQueue, std::function<void()> ACall, const void* AOwner = nullptr)
        : FThread([this, &AQueue, call = std::move(ACall), AOwner] {
              try {
                  AQueue.Synchronize(call, AOwner);
                  Outcome = "returned";
              } catch (const std::exception& e) {
                  Outcome = e.what();
              }
              Done = true;
          }) {}
    ~Poster() { FThread.join(); }

    std::atomic<bool> Done{false};
    std::string Outcome; // read after Done

private:
    std::thread FThread;
};

class MainThreadQueue : public ::testing::Test {
protected:
    void SetUp() override { Queue.RegisterMainThread(); }
    void TearDown() override { Queue.UnregisterMainThread(); }

    bool PendingReaches(size_t ACount) {
        return WaitUntil([&] { return Queue.PendingCount() == ACount; });
    }

    TIdMainThreadQueue Queue;
};

} // namespace

TEST_F(MainThreadQueue, CallRunsOnTheWindowsThreadAndItsExceptionCrossesBack) {
    struct Case {
        const char* why;
        std::function<void()> raise;
        std::string outcome;
    };
    const Case cases[] = {
        {"returns normally", [] {}, "returned"},
        {"transport exception", [] { throw EIdReadTimeout(); }, "Read Timeout"},
        {"standard exception", [] { throw std::out_of_range("index"); }, "index"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::thread::id ranOn;
        Poster worker(Queue, [&] {
            ranOn = std::this_thread::get_id();
            c.raise();
        });
        ASSERT_TRUE(PendingReaches(1));
        EXPECT_FALSE(worker.Done.load()); // blocked until the call has run
        EXPECT_EQ(Queue.ProcessPending(), 1u);
        ASSERT_TRUE(WaitUntil([&] { return worker.Done.load(); }));
        EXPECT_EQ(ranOn, std::this_thread::get_id());
        EXPECT_EQ(worker.Outcome, c.outcome);
    }
}

TEST_F(MainThreadQueue, OnTheWindowsThreadItselfTheCallRunsDirectly) {
    int ran = 0;
    Queue.Synchronize([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(Queue.PendingCount(), 0u);
    EXPECT_THROW(Queue.Synchronize([] { throw EIdNotConnected(); }), EIdNotConnected);
}

TEST_F(MainThreadQueue, CallsRunInPostingOrder) {
    std::vector<int> order;
    Poster first(Queue, [&] { order.push_back(1); });
    ASSERT_TRUE(PendingReaches(1));
    Poster second(Queue, [&] { order.push_back(2); });
    ASSERT_TRUE(PendingReaches(2));
    EXPECT_EQ(Queue.ProcessPending(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

// A worker that posts again as soon as its call returns must not keep one drain busy.
TEST_F(MainThreadQueue, ProcessPendingRunsOnlyWhatWasPendingWhenCalled) {
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            Queue.Synchronize([&] { ++ran; });
        }
    });
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(PendingReaches(1));
        EXPECT_EQ(Queue.ProcessPending(), 1u);
        EXPECT_EQ(ran.load(), i);
    }
    worker.join();
}

// A modal loop inside a call drains again: it runs the later calls, never the current one.
TEST_F(MainThreadQueue, NestedDrainRunsLaterCallsButNeverTheCurrentOneAgain) {
    std::vector<std::string> trace;
    size_t nestedRan = 99;
    size_t innermostRan = 99;
    Poster outer(Queue, [&] {
        trace.push_back("outer begins");
        nestedRan = Queue.ProcessPending();
        trace.push_back("outer ends");
    });
    ASSERT_TRUE(PendingReaches(1));
    Poster later(Queue, [&] {
        trace.push_back("later");
        innermostRan = Queue.ProcessPending(); // nothing left: the outer call is not re-run
    });
    ASSERT_TRUE(PendingReaches(2));
    EXPECT_EQ(Queue.ProcessPending(), 1u);
    EXPECT_EQ(nestedRan, 1u);
    EXPECT_EQ(innermostRan, 0u);
    EXPECT_EQ(trace, (std::vector<std::string>{"outer begins", "later", "outer ends"}));
    ASSERT_TRUE(WaitUntil([&] { return outer.Done.load() && later.Done.load(); }));
    EXPECT_EQ(outer.Outcome, "returned");
    EXPECT_EQ(later.Outcome, "returned");
}

// A nested event loop inside a worker's own call destroys the worker's owner and must wait
// for the worker: discarding releases the worker although its call is still running below.
TEST_F(MainThreadQueue, NestedDiscardReleasesTheWorkerOfTheRunningCall) {
    int owner = 0;
    bool released = false;
    bool callFinished = false;
    std::string workerOutcome;
    std::unique_ptr<Poster> worker;
    worker = std::make_unique<Poster>(
        Queue,
        [&] {
            released = Queue.DiscardPendingUntil([&] { return worker->Done.load(); }, &owner,
                                                 TestSupport::HangLimit.count());
            workerOutcome = worker->Outcome;
            worker.reset(); // joined: the worker and its stack are gone
            callFinished = true;
            throw EIdClosedSocket(); // dropped: nobody waits for it any more
        },
        &owner);
    ASSERT_TRUE(PendingReaches(1));
    Poster bystander(Queue, [] {});
    ASSERT_TRUE(PendingReaches(2));
    EXPECT_EQ(Queue.ProcessPending(), 2u);
    EXPECT_TRUE(released);
    EXPECT_EQ(workerOutcome, "Synchronized call discarded.");
    EXPECT_TRUE(callFinished);
    ASSERT_TRUE(WaitUntil([&] { return bystander.Done.load(); }));
    EXPECT_EQ(bystander.Outcome, "returned");
}

TEST_F(MainThreadQueue, DiscardFailsOnlyTheOwnersCallsWithoutRunningThem) {
    int a = 0, b = 0;
    int ran = 0;
    Poster fromA(
        Queue, [&] { ++ran; }, &a);
    ASSERT_TRUE(PendingReaches(1));
    Poster fromB(
        Queue, [&] { ++ran; }, &b);
    ASSERT_TRUE(PendingReaches(2));
    EXPECT_EQ(Queue.DiscardPending(&a), 1u);
    ASSERT_TRUE(WaitUntil([&] { return fromA.Done.load(); }));
    EXPECT_EQ(fromA.Outcome, "Synchronized call discarded.");
    EXPECT_FALSE(fromB.Done.load());
    EXPECT_EQ(Queue.DiscardPending(), 1u); // null: everyone's
    ASSERT_TRUE(WaitUntil([&] { return fromB.Done.load(); }));
    EXPECT_EQ(fromB.Outcome, "Synchronized call discarded.");
    EXPECT_EQ(ran, 0);
}

TEST_F(MainThreadQueue, WithoutAWindowsThreadWorkersGetAnErrorNotAHang) {
    Poster blocked(Queue, [] {});
    ASSERT_TRUE(PendingReaches(1));
    Queue.UnregisterMainThread(); // releases the blocked worker
    ASSERT_TRUE(WaitUntil([&] { return blocked.Done.load(); }));
    EXPECT_EQ(blocked.Outcome, "Synchronized call discarded.");
    Poster late(Queue, [] {});
    ASSERT_TRUE(WaitUntil([&] { return late.Done.load(); }));
    EXPECT_EQ(late.Outcome, "No main thread to run a synchronized call.");
    EXPECT_FALSE(Queue.IsMainThread());
}

TEST_F(MainThreadQueue, OnlyTheWindowsThreadRunsCalls) {
    EXPECT_TRUE(Queue.IsMainThread());
    std::string error;
    std::thread other([&] {
        try {
            Queue.ProcessPending();
        } catch (const EIdNotMainThread& e) {
            error = e.what();
        }
    });
    other.join();
    EXPECT_EQ(error, "Synchronized calls can only be run on the main thread.");
}

TEST_F(MainThreadQueue, WakeUpHookFiresFromTheWorkerForEachPostUntilCleared) {
    std::atomic<int> wakeUps{0};
    std::atomic<bool> calledOffMain{false};
    Queue.SetWakeUp([&] {
        ++wakeUps;
        calledOffMain = calledOffMain || !Queue.IsMainThread();
    });
    {
        Poster worker(Queue, [] {});
        ASSERT_TRUE(WaitUntil([&] { return wakeUps.load() == 1; }));
        Queue.ProcessPending();
    }
    EXPECT_TRUE(calledOffMain.load());
    Queue.SetWakeUp({});
    Poster worker(Queue, [] {});
    ASSERT_TRUE(PendingReaches(1));
    Queue.ProcessPending();
    EXPECT_EQ(wakeUps.load(), 1);
}

// The window's thread waiting for a worker that is blocked in a hand-off: both ways of
// waiting release the worker, so neither thread waits for the other.
TEST_F(MainThreadQueue, WaitingWhileServingOrDiscardingReleasesABlockedWorker) {
    for (bool run : {true, false}) {
        SCOPED_TRACE(run ? "serving" : "discarding");
        int ran = 0;
        Poster worker(
            Queue, [&] { ++ran; }, &ran);
        ASSERT_TRUE(PendingReaches(1));
        const auto done = [&] { return worker.Done.load(); };
        EXPECT_TRUE(run ? Queue.ProcessPendingUntil(done, TestSupport::HangLimit.count())
                        : Queue.DiscardPendingUntil(done, &ran, TestSupport::HangLimit.count()));
        EXPECT_EQ(ran, run ? 1 : 0);
        EXPECT_EQ(worker.Outcome, run ? "returned" : "Synchronized call discarded.");
    }
}

TEST_F(MainThreadQueue, WaitingGivesUpAfterItsTimeOut) {
    EXPECT_FALSE(Queue.ProcessPendingUntil([] { return false; }, 20));
    EXPECT_FALSE(Queue.DiscardPendingUntil([] { return false; }, nullptr, 0));
    EXPECT_TRUE(Queue.ProcessPendingUntil([] { return true; }, 0));
}
