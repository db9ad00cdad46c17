// The base of the long-running worker threads: a loop that calls Run over and over, a
// stopped state that either ends the thread or parks it until Start, hooks around the loop,
// and an exception trap that ends the thread quietly and records why.
//
// The body, on the worker thread (each "finally" runs whether or not an exception passes):
//
//   trap {                                        // records the exception, DoException, Terminate
//     BeforeExecute
//     while not Terminated:
//       if Stopped: DoStopped; if still Stopped: leave if Terminated, else park until Start
//                   (or the destructor) and leave if Terminated after waking
//       { BeforeRun; { Run while not Stopped } finally AfterRun } finally Cleanup
//   } finally AfterExecute (inside the trap)
//
// So a Run that throws ends the thread for good, after AfterRun, Cleanup and AfterExecute.
// Parking is a wait on a condition variable, not a suspension of the OS thread.
#pragma once

#include "IdBaseThread.h"
#include "IdEvents.h"

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>

enum TIdThreadStopMode { smTerminate, smSuspend };

// Base of objects a thread can own as its Data.
class TIdThreadData {
public:
    virtual ~TIdThreadData() = default;
};

class TIdThread : public TIdBaseThread {
protected:
    // Virtual operations in their slot order. The four hooks are empty here.
    virtual void AfterRun() {}
    virtual void AfterExecute() {}
    virtual void BeforeExecute() {}
    virtual void BeforeRun() {}
    virtual void Cleanup();
    virtual void DoException(const std::exception& AException);
    virtual void DoStopped();
    virtual void Run() = 0;

public:
    // Created suspended unless told otherwise; see TIdBaseThread for how a thread created
    // running is started only after its whole constructor chain (TIdBaseThread::New).
    explicit TIdThread(bool ACreateSuspended = true);
    // Ends the thread like TIdBaseThread::FinishThread, then Cleanup.
    ~TIdThread() override;

    // Any thread. Start resumes a stopped or parked thread (first start included) and does
    // nothing to a running one. Stop ends the thread (smTerminate) or makes it park after the
    // current Run (smSuspend); a second Stop does nothing more.
    virtual void Start();
    virtual void Stop();
    // Marks the thread stopped and terminated, and wakes it if it parked itself. Does not wait,
    // and does not interrupt a blocked Run.
    void Terminate() override;
    // Terminate, resume if suspended, wait. Raises EIdThreadTerminateAndWaitFor, and changes
    // nothing, for a free-on-terminate thread (it may delete itself during the wait). Called on
    // the window's thread it keeps running synchronized calls while it waits.
    virtual void TerminateAndWaitFor();

    // Terminated, stopped or suspended (parked, or not yet past its start gate).
    bool Stopped() const;

    // Owned; freed by Cleanup at the end of every run phase. Set it before the thread starts
    // (or while it is parked): only the thread itself uses it while it runs.
    TIdThreadData* Data() const { return FData.get(); }
    void SetData(std::unique_ptr<TIdThreadData> AData) { FData = std::move(AData); }
    TIdThreadStopMode StopMode() const { return FStopMode.load(); }
    void SetStopMode(TIdThreadStopMode AValue) { FStopMode.store(AValue); }
    // The message and the dynamic type of the exception that ended the loop; empty and null
    // when none did. A non-standard exception gets a descriptive message and, where the C++
    // runtime can tell, its type.
    std::string TerminatingException() const;
    const std::type_info* TerminatingExceptionClass() const;

    // Both raised on the worker thread. OnException receives a non-standard exception as an
    // EIdException carrying the descriptive message. An exception thrown by the handler is
    // dropped: nothing leaves the thread.
    TIdExceptionThreadEvent OnException;
    TIdNotifyThreadEvent OnStopped;

protected:
    // The loop above; final because the loop is what this class is.
    void Execute() final;

private:
    bool ParkWhileStopped();
    void Trapped(const std::type_info* AClass, const std::exception& AException);

    std::unique_ptr<TIdThreadData> FData;
    // Re-entrant because Start and Stop call Stopped while holding it.
    mutable std::recursive_mutex FLock;
    std::atomic<TIdThreadStopMode> FStopMode{smTerminate};
    bool FStopped;                                              // under FLock
    bool FParked = false;                                       // under FLock
    std::string FTerminatingException;                          // under FLock
    const std::type_info* FTerminatingExceptionClass = nullptr; // under FLock
};
