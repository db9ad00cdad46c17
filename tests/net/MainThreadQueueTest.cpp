// The call queue on its own: plain std::threads as workers, the test's thread as the window's.
#include "IdMainThreadQueue.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using TestSupport::Raised;
using TestSupport::WaitUntil;

namespace {

// A worker that makes one synchronized call and keeps what came back (read after Done).
struct Poster {
    Poster(TIdMainThreadQueue& AQueue, std::function<void()> ACall, const void* AOwner = nullptr)
        : FThread([this, &AQueue, ACall, AOwner] {
              try {
                  AQueue.Synchronize(ACall, AOwner);
                  Outcome = "returned";
              } catch (const std::exception& e) {
                  Outcome = e.what();
              }
              Done = true;
          }) {}
    ~Poster() { FThread.join(); }
    std::string Outcome;
    std::atomic<bool> Done{false};
    std::thread FThread; // last: starts once the fields above exist
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
}

// Discarding fails the owner's calls without running them; the others run in posting order.
TEST_F(MainThreadQueue, DiscardFailsOnlyTheOwnersCallsAndTheRestRunInOrder) {
    int a = 0, b = 0;
    const void* owners[] = {&a, &b, &a, &b, &b};
    std::vector<int> ran;
    std::vector<std::unique_ptr<Poster>> posters;
    for (size_t i = 0; i < std::size(owners); ++i) {
        posters.push_back(std::make_unique<Poster>(
            Queue, [&ran, i] { ran.push_back(int(i)); }, owners[i]));
        ASSERT_TRUE(PendingReaches(i + 1));
    }
    EXPECT_EQ(Queue.DiscardPending(&a), 2u);
    EXPECT_EQ(Queue.ProcessPending(), 3u);
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
    for (size_t i = 0; i < posters.size(); ++i) {
        ASSERT_TRUE(WaitUntil([&] { return posters[i]->Done.load(); }));
        EXPECT_EQ(posters[i]->Outcome,
                  owners[i] == &a ? "Synchronized call discarded." : "returned");
    }
}

TEST_F(MainThreadQueue, OffTheWindowsThreadOrWithoutOneCallsFailInsteadOfHanging) {
    std::string error;
    std::thread([&] { error = Raised<EIdNotMainThread>([&] { Queue.ProcessPending(); }); }).join();
    EXPECT_EQ(error, "Synchronized calls can only be run on the main thread.");
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

TEST_F(MainThreadQueue, WakeUpHookFiresFromTheWorkerForEachPostUntilCleared) {
    std::atomic<int> wakeUps{0};
    std::atomic<bool> offMain{false};
    Queue.SetWakeUp([&] {
        ++wakeUps;
        offMain = !Queue.IsMainThread();
    });
    for (int round = 0; round < 2; ++round) {
        Poster worker(Queue, [] {});
        ASSERT_TRUE(PendingReaches(1));
        Queue.ProcessPending();
        Queue.SetWakeUp({});
    }
    EXPECT_EQ(wakeUps.load(), 1);
    EXPECT_TRUE(offMain.load());
}

// The window's thread waiting for a worker that is blocked in a hand-off: both ways of
// waiting release the worker (discarding with no owner discards everyone's), so neither
// thread waits for the other.
TEST_F(MainThreadQueue, WaitingWhileServingOrDiscardingReleasesABlockedWorker) {
    for (bool run : {true, false}) {
        SCOPED_TRACE(run ? "serving" : "discarding");
        int ran = 0;
        Poster worker(
            Queue, [&] { ++ran; }, &ran);
        ASSERT_TRUE(PendingReaches(1));
        const auto done = [&] { return worker.Done.load(); };
        EXPECT_TRUE(run ? Queue.ProcessPendingUntil(done, TestSupport::HangLimit.count())
                        : Queue.DiscardPendingUntil(done, nullptr, TestSupport::HangLimit.count()));
        EXPECT_EQ(ran, run ? 1 : 0);
        EXPECT_EQ(worker.Outcome, run ? "returned" : "Synchronized call discarded.");
    }
    EXPECT_FALSE(Queue.ProcessPendingUntil([] { return false; }, 20)); // gives up in time
    EXPECT_FALSE(Queue.DiscardPendingUntil([] { return false; }, nullptr, 0));
    EXPECT_TRUE(Queue.ProcessPendingUntil([] { return true; }, 0));
}
