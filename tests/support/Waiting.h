// Bounded waits: a hang becomes a failure instead of a stuck test run.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace TestSupport {

inline constexpr std::chrono::milliseconds HangLimit{10000};

// The predicate is never asked again once it held: some consume what they matched.
inline bool WaitUntil(const std::function<bool()>& APredicate,
                      std::chrono::milliseconds ALimit = HangLimit) {
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return APredicate();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The text of the E that AAction raised, or "(nothing raised)"; another type escapes.
template <typename E, typename F> std::string Raised(F&& AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Aborts the test program if still alive after twice HangLimit: for calls that cannot take a
// time-out themselves (a destructor that would hang).
class Watchdog {
public:
    explicit Watchdog(std::string AWhat)
        : FThread([this, what = std::move(AWhat)] {
              std::unique_lock lock(FMutex);
              if (!FDone.wait_for(lock, 2 * HangLimit, [this] { return FCancelled; })) {
                  std::fprintf(stderr, "Watchdog: hung in %s\n", what.c_str());
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        std::unique_lock lock(FMutex);
        FCancelled = true;
        FDone.notify_all();
        lock.unlock();
        FThread.join();
    }

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FCancelled = false;
    std::thread FThread; // last: starts once the fields above exist
};

} // namespace TestSupport

// Holds one call of a test double at a point of a race, so a test can act while the call is
// known to be there: the double calls Enter (true: the held call) where the call starts and
// Leave after its work, which keeps the thread until Release. Waits give up after HangLimit.
class CallGate {
public:
    void Arm() { Set(Armed, true); }
    void Release() { Set(Released); }
    bool WaitEntered() { return WaitFor(Entered); }
    bool WaitReturned() { return WaitFor(Returned); }
    bool Enter() {
        std::lock_guard lock(FLock);
        const bool held = FState == Armed;
        FState = held ? Entered : FState;
        FChanged.notify_all();
        return held;
    }
    void Leave(bool AHeld) {
        if (AHeld) {
            Set(Returned);
            WaitFor(Released);
            Set(Done);
        }
    }

private:
    enum TState { Idle, Armed, Entered, Returned, Released, Done }; // only ever moves on
    void Set(TState AState, bool ARestart = false) {
        std::lock_guard lock(FLock);
        FState = ARestart ? AState : std::max(FState, AState);
        FChanged.notify_all();
    }
    bool WaitFor(TState AState) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, TestSupport::HangLimit, [&] { return FState >= AState; });
    }
    std::mutex FLock;
    std::condition_variable FChanged;
    TState FState = Idle;
};
