// The platform thread: a std::thread with the start, suspend, terminate, wait and
// free-on-terminate behaviour the worker threads are written against.
//
// Starting. The body never runs before the whole object is built: the std::thread is created
// by the constructor but first waits at a start gate (the thread counts as suspended until
// then). A thread created running is let through by AfterConstruction, which
// `TIdBaseThread::New<T>(args...)` calls once the constructors of every class in the chain
// have finished, so fields set by a derived constructor are visible to the first Run. A
// thread created suspended waits for Resume (TIdThread: Start). Building a thread with plain
// `new` leaves it at the gate until AfterConstruction or Resume.
//
// Ending. Terminate only sets a flag the body polls; it never interrupts a blocked call. With
// free-on-terminate the object deletes itself when the body ends, on its own thread, and
// must not be touched by other threads once that can have happened; `EndFlag()` (taken while
// the thread is surely alive) tells them when it has. Otherwise the owner deletes it.
//
// Destroying. C++ destroys the derived part of an object first, so a body still running in a
// derived class's code must be ended before any destructor starts: destroy a thread that may
// be running with `TIdBaseThread::Free` (or TIdThreadDeleter in a unique_ptr), or after
// TerminateAndWaitFor / WaitFor. Plain `delete` is fine for a thread that has finished, is
// parked or has never started: the destructor still ends it (terminate, resume, wait), but
// the hooks it calls on the way out are then those of the classes not yet destroyed.
#pragma once

#include "IdEvents.h"
#include "IdGlobal.h"
#include "IdMainThreadQueue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class TIdBaseThread {
public:
    explicit TIdBaseThread(bool ACreateSuspended);
    virtual ~TIdBaseThread();
    TIdBaseThread(const TIdBaseThread&) = delete;
    TIdBaseThread& operator=(const TIdBaseThread&) = delete;

protected:
    // Virtual operations in their slot order: the terminate notification (raises OnTerminate)
    // and the thread body.
    virtual void DoTerminate();
    virtual void Execute() = 0;

public:
    // Builds a T and, unless it was created suspended, lets its body start.
    template <class T, class... Args> static T* New(Args&&... AArgs) {
        T* thread = new T(std::forward<Args>(AArgs)...);
        thread->AfterConstruction();
        return thread;
    }
    // Opens the start gate of a thread created running. New calls it; calling it again, or on
    // a thread created suspended, does nothing.
    void AfterConstruction();
    // Ends the thread while the whole object is still alive (clear free-on-terminate,
    // terminate, resume if suspended, wait), then deletes it. Null is ignored.
    static void Free(TIdBaseThread* AThread);

    // Sets the terminated flag. Virtual so that a thread class can add to it.
    virtual void Terminate();
    // Clears the suspended flag and wakes the thread: opens the start gate, or ends a park.
    void Resume();
    // Blocks until the body has ended. On the window's thread it keeps running the workers'
    // synchronized calls meanwhile, so a worker blocked in Synchronize cannot deadlock it.
    // A negative ATimeoutMs waits without limit; returns whether the thread has finished.
    // Raises EIdThreadWaitForSelf when called by the thread itself. Not for free-on-terminate
    // threads, which may be gone before it returns; wait for their EndFlag instead.
    bool WaitFor(int ATimeoutMs = Id::TimeoutInfinite);
    // Runs AMethod on the window's thread and blocks until it has run; what it throws is
    // rethrown here. See TIdMainThreadQueue.
    void Synchronize(const std::function<void()>& AMethod);
    // Synchronize in two steps (TIdMainThreadQueue::Post): returns once AMethod is posted;
    // ATicket.Wait() blocks until it has run and rethrows what it threw.
    void Post(TIdMainThreadQueue::TTicket& ATicket, const std::function<void()>& AMethod);

    bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
    bool Suspended() const;
    bool Finished() const;
    bool FreeOnTerminate() const;
    void SetFreeOnTerminate(bool AValue);
    // Becomes true once the body has ended and, with free-on-terminate, the object has been
    // deleted. Shared, so it stays readable after the thread object is gone.
    std::shared_ptr<const std::atomic<bool>> EndFlag() const { return FEndFlag; }

    // Raised after the body, on the window's thread (through Synchronize). Skipped when
    // there is no window's thread or it discards the call. Until it has run, a
    // free-on-terminate thread has not deleted itself yet, so the window's thread may still
    // use its reference up to this call; the handler is where an owner clears that reference.
    TIdBaseThreadNotifyEvent OnTerminate;

protected:
    // Parking, for the thread itself: BeginSuspend sets the suspended flag (so Resume from now
    // on wakes it), WaitWhileSuspended blocks until Resume clears it. Split so a caller can set
    // the flag while holding its own lock and wait after releasing it.
    void BeginSuspend();
    void WaitWhileSuspended();
    // The destructor's ending of the thread: clear free-on-terminate, and unless finished:
    // Terminate, Resume if suspended, wait. Does nothing on the thread itself.
    void FinishThread();

private:
    void ThreadMain();

    std::atomic<bool> FTerminated{false};
    const bool FCreateSuspended;
    mutable std::mutex FStateMutex; // guards the fields below
    std::condition_variable FStateChanged;
    bool FSuspended = true; // the start gate is the first suspension
    bool FFinished = false;
    bool FFreeOnTerminate = false;
    bool FBodyStarted = false;    // past the start gate
    bool FStartCancelled = false; // destroyed before the body ran: skip it
    bool FConstructed = false;
    std::shared_ptr<std::atomic<bool>> FEndFlag;
    TIdMainThreadQueue* const FQueue;
    std::thread FThread; // last: started once everything above exists
};

// Lets std::unique_ptr own a thread: ends it before its destructors run.
struct TIdThreadDeleter {
    void operator()(TIdBaseThread* AThread) const { TIdBaseThread::Free(AThread); }
};
template <class T> using TIdThreadPtr = std::unique_ptr<T, TIdThreadDeleter>;
