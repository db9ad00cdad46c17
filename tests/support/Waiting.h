// Bounded waits for tests: a hang becomes a failure instead of a stuck test run. The bounds
// are generous on purpose; no test asserts on speed.
#pragma once

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

// Polls APredicate until it holds or HangLimit passes; returns its last value.
inline bool WaitUntil(const std::function<bool()>& APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + HangLimit;
    while (!APredicate() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return APredicate();
}

// The text of an exception of type E that AAction raised, or "(nothing raised)". Another type
// escapes, and the test fails on it.
template <typename E, typename F> std::string Raised(F&& AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Aborts the test program with AWhat if still alive after twice HangLimit: for calls that
// cannot take a time-out themselves (a destructor that would hang).
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
// known to be there. The double calls Enter (true: this call is the held one) where the call
// starts and Leave after its work; Leave reports the return and keeps the thread until
// Release. Disarmed after one call. The waits give up (false) after HangLimit.
class CallGate {
public:
    void Arm() {
        Set([this] { FArmed = true, FEntered = FReturned = FReleased = false; });
    }
    void Release() {
        Set([this] { FReleased = true; });
    }
    bool WaitEntered() { return WaitFor(FEntered); }
    bool WaitReturned() { return WaitFor(FReturned); }
    bool Enter() {
        std::lock_guard lock(FLock);
        const bool held = FArmed && !FEntered;
        FEntered = FEntered || held;
        FChanged.notify_all();
        return held;
    }
    void Leave(bool AHeld) {
        if (AHeld) {
            Set([this] { FReturned = true; });
            WaitFor(FReleased, false);
            Set([this] { FArmed = false; });
        }
    }

private:
    void Set(const std::function<void()>& AChange) {
        std::lock_guard lock(FLock);
        AChange();
        FChanged.notify_all();
    }
    bool WaitFor(const bool& AFlag, bool ABounded = true) {
        std::unique_lock lock(FLock);
        if (!ABounded) {
            FChanged.wait(lock, [&] { return AFlag; });
            return true;
        }
        return FChanged.wait_for(lock, TestSupport::HangLimit, [&] { return AFlag; });
    }
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false, FEntered = false, FReturned = false, FReleased = false;
};
