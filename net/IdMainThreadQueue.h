// The one hand-off from worker threads to the window's thread.
//
// A worker posts a call and blocks until the window's thread has run it (`Synchronize`); an
// exception thrown by the call is carried back and rethrown in the worker. The window's thread
// is whichever thread runs the event loop (Qt's GUI thread in the program, a test's own thread
// in tests) and registers itself. It runs the pending calls with `ProcessPending`, which the
// program triggers from its event loop after the wake-up hook has fired.
//
// Neither thread may wait for the other: when the window's thread must wait for a worker to
// end (a component destroyed while its reader may be blocked in a hand-off), it waits with
// `ProcessPendingUntil` or `DiscardPendingUntil`, which keep serving or failing the worker's
// calls while they wait.
//
// Re-entry: a call may open a nested event loop (a modal message box) that drains the queue
// again. A call is taken off the queue before it runs, so a nested drain runs the calls posted
// after it, in order, and never runs the current one a second time; its worker stays blocked
// until the outer call returns. That matters when the nested loop destroys the worker's owner:
// waiting there with ProcessPendingUntil for that worker cannot end (its call is below us on
// the stack), so such a wait uses DiscardPendingUntil, which releases the worker of a call
// that is still running.
#pragma once

#include "IdException.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TIdMainThreadQueue {
    struct TEntry {
        std::shared_ptr<const std::function<void()>> Call;
        const void* Owner = nullptr;
        bool Done = false;
        std::exception_ptr Error;
    };

public:
    using TCall = std::function<void()>;

    // A call posted with Post: its place in the queue until the window's thread has run or
    // discarded it. Wait collects the outcome (rethrows what the call threw, or
    // EIdSyncCallDiscarded). A ticket destroyed while still posted waits for its call first,
    // dropping what it threw, so that the queue never holds a call whose worker has gone.
    class TTicket {
    public:
        TTicket() = default;
        TTicket(const TTicket&) = delete;
        TTicket& operator=(const TTicket&) = delete;
        ~TTicket();
        bool Posted() const { return FQueue != nullptr; }
        // Blocks until the call has run; does nothing when nothing is posted.
        void Wait();

    private:
        friend class TIdMainThreadQueue;
        TIdMainThreadQueue* FQueue = nullptr;
        TEntry FEntry;
    };

    // Destroy a queue only when no worker can be inside its Synchronize.
    TIdMainThreadQueue() = default;
    TIdMainThreadQueue(const TIdMainThreadQueue&) = delete;
    TIdMainThreadQueue& operator=(const TIdMainThreadQueue&) = delete;

    // The process's queue, used by TIdBaseThread::Synchronize. It is never destroyed, so a
    // detached worker that ends during program exit still finds it.
    static TIdMainThreadQueue& Instance();

    // Makes the calling thread the window's thread (one at a time; registering again moves
    // it). Unregistering fails every pending call (EIdSyncCallDiscarded) so no worker stays
    // blocked, and makes later Synchronize calls from workers raise EIdNoMainThread.
    void RegisterMainThread();
    void UnregisterMainThread();
    // One atomic load: cheap enough for checks on hot paths.
    bool IsMainThread() const noexcept;

    // Called, from the posting worker's thread, each time a call is posted; the program uses
    // it to wake its event loop, which then calls ProcessPending. It must not block or call
    // back into this queue. After SetWakeUp returns, the previous function is no longer being
    // called and never will be again.
    void SetWakeUp(std::function<void()> AWakeUp);

    // Runs ACall on the window's thread and returns when it has run; rethrows what it threw.
    // On the window's thread itself it runs ACall directly. AOwner tags the call so that
    // DiscardPending can pick one worker's calls (null: untagged).
    void Synchronize(const TCall& ACall, const void* AOwner = nullptr);
    // Synchronize in two steps: posts ACall and returns at once, so that the worker can go on
    // with other work while the window's thread runs it; ATicket.Wait() then does the rest.
    // On the window's thread ACall runs at once and Wait only rethrows. ATicket must not be
    // posted already.
    void Post(TTicket& ATicket, const TCall& ACall, const void* AOwner = nullptr);

    // Window's thread only (else EIdNotMainThread). Runs, in posting order, at most the calls
    // that were pending when it was called (so a worker that posts again at once cannot keep it
    // busy forever) and returns how many it ran.
    size_t ProcessPending();

    // Any thread. Fails the pending calls tagged AOwner (all when null) with
    // EIdSyncCallDiscarded without running them; returns how many. A matching call that is
    // already running (this is called from a nested event loop inside it) runs on to its end,
    // but its worker is released at once with the same exception, and what the call throws
    // is dropped: the window's thread can then wait for that worker without a deadlock. The
    // rest of such a call must not touch the worker's state (it may be gone).
    size_t DiscardPending(const void* AOwner = nullptr);

    // Window's thread only. Waits until AFinished() holds, running the calls workers post in
    // the meantime. AFinished is re-checked after each post, after each Wake() and at least
    // every PollInterval. A negative ATimeoutMs waits without limit. Returns AFinished().
    bool ProcessPendingUntil(const std::function<bool()>& AFinished, int ATimeoutMs = -1);
    // The same, failing the calls tagged AOwner (all when null) instead of running them, so a
    // worker blocked in a hand-off gets EIdSyncCallDiscarded and can end. Any thread.
    bool DiscardPendingUntil(const std::function<bool()>& AFinished, const void* AOwner = nullptr,
                             int ATimeoutMs = -1);

    // Makes the waits above re-check their condition now. A thread calls it when its body ends.
    void Wake();

    size_t PendingCount() const;

    static constexpr int PollInterval = 50; // ms

private:
    // A call taken off the queue and running now; Released once its worker was let go.
    struct TRunning {
        TEntry* Entry;
        bool Released;
    };

    void Complete(TEntry* AEntry, std::exception_ptr AError);
    void WaitFor(TTicket& ATicket);
    bool WaitUntil(const std::function<bool()>& AFinished, bool ARun, const void* AOwner,
                   int ATimeoutMs);

    std::atomic<std::thread::id> FMainThread{};
    mutable std::mutex FMutex;
    std::condition_variable FCallDone; // workers wait here for their entry
    std::condition_variable FChanged;  // the window's thread waits here in the *Until calls
    std::deque<TEntry*> FPending;      // entries live on their blocked worker's stack
    std::vector<TRunning> FRunning;    // innermost (most nested) last
    unsigned FChangeCount = 0;         // bumped by posts and Wake()
    std::mutex FWakeUpMutex;
    std::function<void()> FWakeUp;
};
