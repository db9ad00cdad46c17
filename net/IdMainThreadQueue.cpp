#include "IdMainThreadQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

TIdMainThreadQueue& TIdMainThreadQueue::Instance() {
    // Deliberately never freed: detached workers may still post or wake during exit, after
    // static destructors would have run.
    static TIdMainThreadQueue* const instance = new TIdMainThreadQueue;
    return *instance;
}

void TIdMainThreadQueue::RegisterMainThread() {
    FMainThread.store(std::this_thread::get_id(), std::memory_order_release);
}

void TIdMainThreadQueue::UnregisterMainThread() {
    {
        // Under the mutex, so no worker can post between the reset and the discard.
        std::lock_guard<std::mutex> lock(FMutex);
        FMainThread.store(std::thread::id(), std::memory_order_release);
    }
    DiscardPending();
}

bool TIdMainThreadQueue::IsMainThread() const noexcept {
    return FMainThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void TIdMainThreadQueue::SetWakeUp(std::function<void()> AWakeUp) {
    std::lock_guard<std::mutex> lock(FWakeUpMutex);
    FWakeUp = std::move(AWakeUp);
}

void TIdMainThreadQueue::Synchronize(const TCall& ACall, const void* AOwner) {
    TTicket ticket;
    Post(ticket, ACall, AOwner);
    ticket.Wait();
}

void TIdMainThreadQueue::Post(TTicket& ATicket, const TCall& ACall, const void* AOwner) {
    if (ATicket.Posted()) {
        throw EIdSyncCallPosted();
    }
    TEntry& entry = ATicket.FEntry;
    entry = TEntry{nullptr, AOwner, false, nullptr};
    if (IsMainThread()) {
        try {
            ACall();
        } catch (...) {
            entry.Error = std::current_exception();
        }
        entry.Done = true;
        ATicket.FQueue = this;
        return;
    }
    // A copy the window's thread shares: a call released by DiscardPending keeps running
    // after its worker (and the worker's own function object) is gone.
    entry.Call = std::make_shared<const TCall>(ACall);
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FMainThread.load(std::memory_order_acquire) == std::thread::id()) {
            throw EIdNoMainThread();
        }
        FPending.push_back(&entry);
        ++FChangeCount;
    }
    ATicket.FQueue = this;
    FChanged.notify_all();
    std::lock_guard<std::mutex> lock(FWakeUpMutex);
    if (FWakeUp) {
        FWakeUp();
    }
}

void TIdMainThreadQueue::WaitFor(TTicket& ATicket) {
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FCallDone.wait(lock, [&ATicket] { return ATicket.FEntry.Done; });
        error = std::exchange(ATicket.FEntry.Error, nullptr);
        ATicket.FQueue = nullptr;
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

void TIdMainThreadQueue::TTicket::Wait() {
    if (FQueue != nullptr) {
        FQueue->WaitFor(*this);
    }
}

TIdMainThreadQueue::TTicket::~TTicket() {
    try {
        Wait();
    } catch (...) {
        // Only the wait matters here: whoever wanted the outcome has collected it.
    }
}

void TIdMainThreadQueue::Complete(TEntry* AEntry, std::exception_ptr AError) {
    // Caller holds FMutex. Once Done is set the worker may return and its entry is gone.
    AEntry->Error = std::move(AError);
    AEntry->Done = true;
}

size_t TIdMainThreadQueue::ProcessPending() {
    if (!IsMainThread()) {
        throw EIdNotMainThread();
    }
    size_t limit;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        limit = FPending.size();
    }
    size_t ran = 0;
    while (ran < limit) {
        TEntry* entry;
        std::shared_ptr<const TCall> call;
        size_t slot;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            // A nested drain inside an earlier call may have taken the rest already.
            if (FPending.empty()) {
                break;
            }
            // Taken off before it runs: a nested drain must not see it again.
            entry = FPending.front();
            FPending.pop_front();
            call = entry->Call;
            slot = FRunning.size();
            FRunning.push_back({entry, false});
        }
        std::exception_ptr error;
        try {
            (*call)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(FMutex);
            // Nested drains have popped their own slots by now, so ours is the last one.
            const bool released = FRunning[slot].Released;
            FRunning.pop_back();
            // A released entry's worker has returned and its entry is gone: only the
            // slot says so, the entry itself must not be touched.
            if (!released) {
                Complete(entry, std::move(error));
            }
        }
        FCallDone.notify_all();
        ++ran;
    }
    return ran;
}

size_t TIdMainThreadQueue::DiscardPending(const void* AOwner) {
    size_t discarded = 0;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        const auto matches = [AOwner](const TEntry* e) {
            return AOwner == nullptr || e->Owner == AOwner;
        };
        auto keep = std::stable_partition(FPending.begin(), FPending.end(),
                                          [&matches](TEntry* e) { return !matches(e); });
        for (auto it = keep; it != FPending.end(); ++it) {
            Complete(*it, std::make_exception_ptr(EIdSyncCallDiscarded()));
            ++discarded;
        }
        FPending.erase(keep, FPending.end());
        // Calls already running further down this thread's stack (a nested event loop inside
        // them got us here): they run on to their end, but their workers stop waiting now.
        for (TRunning& running : FRunning) {
            if (!running.Released && matches(running.Entry)) {
                Complete(running.Entry, std::make_exception_ptr(EIdSyncCallDiscarded()));
                running.Released = true;
                ++discarded;
            }
        }
    }
    if (discarded > 0) {
        FCallDone.notify_all();
    }
    return discarded;
}

bool TIdMainThreadQueue::ProcessPendingUntil(const std::function<bool()>& AFinished,
                                             int ATimeoutMs) {
    if (!IsMainThread()) {
        throw EIdNotMainThread();
    }
    return WaitUntil(AFinished, true, nullptr, ATimeoutMs);
}

bool TIdMainThreadQueue::DiscardPendingUntil(const std::function<bool()>& AFinished,
                                             const void* AOwner, int ATimeoutMs) {
    return WaitUntil(AFinished, false, AOwner, ATimeoutMs);
}

bool TIdMainThreadQueue::WaitUntil(const std::function<bool()>& AFinished, bool ARun,
                                   const void* AOwner, int ATimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const bool limited = ATimeoutMs >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
        unsigned seen;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            seen = FChangeCount;
        }
        // Taken after noting the count, so a post or Wake() from here on ends the wait below.
        if (ARun) {
            ProcessPending();
        } else {
            DiscardPending(AOwner);
        }
        if (AFinished()) {
            return true;
        }
        Clock::time_point until = Clock::now() + std::chrono::milliseconds(PollInterval);
        if (limited) {
            if (Clock::now() >= deadline) {
                return false;
            }
            until = std::min(until, deadline);
        }
        std::unique_lock<std::mutex> lock(FMutex);
        FChanged.wait_until(lock, until, [&] { return FChangeCount != seen; });
    }
}

void TIdMainThreadQueue::Wake() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        ++FChangeCount;
    }
    FChanged.notify_all();
}

size_t TIdMainThreadQueue::PendingCount() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FPending.size();
}
