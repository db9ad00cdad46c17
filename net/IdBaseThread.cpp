#include "IdBaseThread.h"

#include "IdException.h"
#include "IdMainThreadQueue.h"

#include <chrono>

TIdBaseThread::TIdBaseThread(bool ACreateSuspended)
    : FCreateSuspended(ACreateSuspended), FEndFlag(std::make_shared<std::atomic<bool>>(false)),
      FQueue(&TIdMainThreadQueue::Instance()) {
    // A failure to create the thread (std::system_error) leaves the constructor; nothing
    // else has been acquired by then.
    FThread = std::thread(&TIdBaseThread::ThreadMain, this);
}

TIdBaseThread::~TIdBaseThread() {
    {
        // Reached with the body not yet past its gate only when no derived destructor ended
        // it (or a derived constructor threw): the derived parts are gone, so the body must
        // not run at all.
        std::lock_guard<std::mutex> lock(FStateMutex);
        if (!FBodyStarted) {
            FStartCancelled = true;
        }
    }
    FinishThread();
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach(); // deleting itself at the end of its body
    } else if (FThread.joinable()) {
        FThread.join();
    }
}

void TIdBaseThread::AfterConstruction() {
    {
        std::lock_guard<std::mutex> lock(FStateMutex);
        if (FConstructed) {
            return;
        }
        FConstructed = true;
    }
    if (!FCreateSuspended) {
        Resume();
    }
}

void TIdBaseThread::Free(TIdBaseThread* AThread) {
    if (AThread != nullptr) {
        AThread->FinishThread();
        delete AThread;
    }
}

void TIdBaseThread::Terminate() {
    FTerminated.store(true, std::memory_order_release);
}

void TIdBaseThread::Resume() {
    {
        std::lock_guard<std::mutex> lock(FStateMutex);
        FSuspended = false;
    }
    FStateChanged.notify_all();
}

bool TIdBaseThread::WaitFor(int ATimeoutMs) {
    if (std::this_thread::get_id() == FThread.get_id()) {
        throw EIdThreadWaitForSelf();
    }
    if (FQueue->IsMainThread()) {
        // The body's end sets the flag and then calls FQueue->Wake(), so this returns
        // promptly. The flag, unlike the object, is still there if the thread deleted itself.
        const std::shared_ptr<const std::atomic<bool>> ended = FEndFlag;
        return FQueue->ProcessPendingUntil([ended] { return ended->load(); }, ATimeoutMs);
    }
    std::unique_lock<std::mutex> lock(FStateMutex);
    if (ATimeoutMs < 0) {
        FStateChanged.wait(lock, [this] { return FFinished; });
        return true;
    }
    return FStateChanged.wait_for(lock, std::chrono::milliseconds(ATimeoutMs),
                                  [this] { return FFinished; });
}

void TIdBaseThread::Synchronize(const std::function<void()>& AMethod) {
    FQueue->Synchronize(AMethod, this);
}

void TIdBaseThread::Post(TIdMainThreadQueue::TTicket& ATicket,
                         const std::function<void()>& AMethod) {
    FQueue->Post(ATicket, AMethod, this);
}

bool TIdBaseThread::Suspended() const {
    std::lock_guard<std::mutex> lock(FStateMutex);
    return FSuspended;
}

bool TIdBaseThread::Finished() const {
    std::lock_guard<std::mutex> lock(FStateMutex);
    return FFinished;
}

bool TIdBaseThread::FreeOnTerminate() const {
    std::lock_guard<std::mutex> lock(FStateMutex);
    return FFreeOnTerminate;
}

void TIdBaseThread::SetFreeOnTerminate(bool AValue) {
    std::lock_guard<std::mutex> lock(FStateMutex);
    FFreeOnTerminate = AValue;
}

void TIdBaseThread::DoTerminate() {
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(this); });
        } catch (...) {
            // The body has ended; nothing may leave the thread. A discarded call or a
            // program without a window's thread only loses the notification.
        }
    }
}

void TIdBaseThread::BeginSuspend() {
    std::lock_guard<std::mutex> lock(FStateMutex);
    FSuspended = true;
}

void TIdBaseThread::WaitWhileSuspended() {
    std::unique_lock<std::mutex> lock(FStateMutex);
    FStateChanged.wait(lock, [this] { return !FSuspended; });
}

void TIdBaseThread::FinishThread() {
    if (std::this_thread::get_id() == FThread.get_id()) {
        return; // the object deleting itself: its body is over
    }
    {
        std::lock_guard<std::mutex> lock(FStateMutex);
        FFreeOnTerminate = false;
        if (FFinished) {
            return;
        }
    }
    Terminate();
    if (Suspended()) {
        Resume();
    }
    WaitFor();
}

void TIdBaseThread::ThreadMain() {
    bool run;
    {
        std::unique_lock<std::mutex> lock(FStateMutex);
        FStateChanged.wait(lock, [this] { return !FSuspended; });
        run = !FStartCancelled;
        FBodyStarted = run;
    }
    if (run) {
        try {
            Execute();
        } catch (...) {
            // An exception leaving a std::thread would end the process. TIdThread traps
            // everything itself; this only guards other bodies.
        }
        DoTerminate();
    }
    // Copied out: with free-on-terminate the object is gone after the delete below.
    const std::shared_ptr<std::atomic<bool>> endFlag = FEndFlag;
    TIdMainThreadQueue* const queue = FQueue;
    bool deleteSelf;
    {
        std::lock_guard<std::mutex> lock(FStateMutex);
        deleteSelf = FFreeOnTerminate;
        FFinished = true;
        // Notified under the lock: an owner could otherwise see FFinished, return from
        // WaitFor and start destroying the condition variable. (The destructor's join keeps
        // the object alive until this function returns in any case.)
        FStateChanged.notify_all();
    }
    if (deleteSelf) {
        delete this;
    }
    endFlag->store(true, std::memory_order_release);
    queue->Wake();
}
