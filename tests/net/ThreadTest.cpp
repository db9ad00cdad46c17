// The worker thread base and its hand-offs to the window's thread (the way the IRC reader
// hands its lines over).
#include "IdException.h"
#include "IdMainThreadQueue.h"
#include "IdThread.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <typeinfo>
#include <vector>

using TestSupport::HangLimit;
using TestSupport::Raised;
using TestSupport::WaitUntil;
using Events = std::vector<std::string>;

namespace {

// Logs its hooks; the body runs in Run.
class ProbeThread : public TIdThread {
public:
    using TBody = std::function<void(ProbeThread&)>;
    explicit ProbeThread(TBody ARun) : TIdThread(true), FRun(std::move(ARun)) {}
    Events Log; // read once the thread has ended

protected:
    void AfterRun() override { Log.push_back("AfterRun"); }
    void AfterExecute() override { Log.push_back("AfterExecute"); }
    void BeforeExecute() override { Log.push_back("BeforeExecute"); }
    void BeforeRun() override { Log.push_back("BeforeRun"); }
    void Cleanup() override { Log.push_back("Cleanup"), TIdThread::Cleanup(); }
    void DoException(const std::exception& AException) override {
        Log.push_back("DoException"), TIdThread::DoException(AException);
    }
    void Run() override { Log.push_back("Run"), FRun(*this); }

private:
    TBody FRun;
};

} // namespace

// An exception from the loop runs every finally hook once, in the nesting order, is offered
// to DoException last (a handler that throws in turn is swallowed), and ends the thread with
// its message and dynamic type recorded. A thread waiting for itself raises, not hangs.
TEST(ThreadLoop, ExceptionEndsTheLoopThroughEveryHookOnce) {
    const struct {
        const char* why;
        ProbeThread::TBody raise;
        std::string message;
        const std::type_info& type;
    } cases[] = {
        {"a transport exception keeps its most derived class",
         [](ProbeThread&) { throw EIdConnClosedGracefully(); }, "Connection Closed Gracefully.",
         typeid(EIdConnClosedGracefully)},
        {"waiting for itself", [](ProbeThread& self) { self.WaitFor(); },
         "A thread cannot wait for itself.", typeid(EIdThreadWaitForSelf)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TIdThreadPtr<ProbeThread> thread(new ProbeThread(c.raise));
        std::string seen;
        thread->OnException = [&](TIdThread*, const std::exception& AException) {
            seen = AException.what();
            throw std::logic_error("from the handler");
        };
        thread->Start();
        ASSERT_TRUE(thread->WaitFor(HangLimit.count()));
        EXPECT_EQ(thread->Log, (Events{"BeforeExecute", "BeforeRun", "Run", "AfterRun", "Cleanup",
                                       "AfterExecute", "DoException"}));
        EXPECT_EQ(thread->TerminatingException(), c.message);
        EXPECT_EQ(seen, c.message);
        ASSERT_NE(thread->TerminatingExceptionClass(), nullptr);
        EXPECT_EQ(*thread->TerminatingExceptionClass(), c.type);
        EXPECT_TRUE(thread->Terminated() && thread->Stopped());
    }
}

// Terminate reaches a thread that parked itself (a stop that suspends): it wakes and ends.
TEST(ThreadLoop, TerminateWakesAParkedThread) {
    TIdThreadPtr<ProbeThread> thread(new ProbeThread([](ProbeThread& self) { self.Stop(); }));
    thread->SetStopMode(smSuspend);
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return thread->Suspended(); }));
    thread->Terminate();
    EXPECT_TRUE(thread->WaitFor(HangLimit.count()));
}

// A modal loop inside a call drains again: it runs the later calls, never the current one.
// Discarding fails only the owner's calls; the others run in posting order. Without the
// window's thread, calls fail instead of hanging.
TEST(MainThreadQueue, NestedDrainDiscardAndNoWindowsThread) {
    TIdMainThreadQueue& Queue = TIdMainThreadQueue::Instance();
    Queue.RegisterMainThread(); // the test's thread is the window's thread
    const auto PendingReaches = [&](size_t ACount) {
        return WaitUntil([&] { return Queue.PendingCount() == ACount; });
    };
    // A worker's one synchronized call; its outcome is "returned" or the exception's text.
    const auto Post = [&](std::function<void()> ACall, const void* AOwner = nullptr) {
        return std::async(std::launch::async, [&Queue, ACall, AOwner] {
            return Raised<std::exception>([&] { Queue.Synchronize(ACall, AOwner); });
        });
    };
    const auto Outcome = [](std::future<std::string>& AFuture) {
        return AFuture.wait_for(HangLimit) == std::future_status::ready ? AFuture.get() : "hung";
    };
    Events trace;
    std::vector<std::future<std::string>> posted;
    int a = 0, b = 0;
    const void* owners[] = {nullptr, &a, &b, &a, &b};
    for (size_t i = 0; i < std::size(owners); ++i) {
        posted.push_back(Post(
            [&, i] {
                trace.push_back(std::to_string(i) + " begins");
                if (i == 0) {
                    trace.push_back("nested ran " + std::to_string(Queue.ProcessPending()));
                }
            },
            owners[i]));
        ASSERT_TRUE(PendingReaches(i + 1));
    }
    EXPECT_EQ(Queue.DiscardPending(&a), 2u);
    EXPECT_EQ(Queue.ProcessPending(), 1u);
    EXPECT_EQ(trace, (Events{"0 begins", "2 begins", "4 begins", "nested ran 2"}));
    for (size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(Outcome(posted[i]),
                  owners[i] == &a ? "Synchronized call discarded." : "(nothing raised)");
    }
    auto blocked = Post([] {});
    ASSERT_TRUE(PendingReaches(1));
    Queue.UnregisterMainThread(); // releases the blocked worker
    EXPECT_EQ(Outcome(blocked), "Synchronized call discarded.");
    auto late = Post([] {});
    EXPECT_EQ(Outcome(late), "No main thread to run a synchronized call.");
}
