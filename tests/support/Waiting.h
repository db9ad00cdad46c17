// Bounded waits for tests: a hang becomes a failure instead of a stuck test run. The bounds
// are generous on purpose; no test asserts on speed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace TestSupport {

inline constexpr std::chrono::milliseconds HangLimit{10000};

// Polls APredicate until it holds or HangLimit passes; returns its last value.
bool WaitUntil(const std::function<bool()>& APredicate);

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
    explicit Watchdog(std::string AWhat);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FCancelled = false;
    std::thread FThread;
};

} // namespace TestSupport

// Holds one call of a test double at a point of a race, so a test can act while the call is
// known to be there. The double calls Enter (true: this call is the held one) where the call
// starts and Leave after its work; Leave reports the return and keeps the thread until
// Release. Disarmed after one call. The waits give up (false) after HangLimit.
class CallGate {
public:
    void Arm();
    void Release();
    bool WaitEntered() { return WaitFor(FEntered); }
    bool WaitReturned() { return WaitFor(FReturned); }
    bool Enter();
    void Leave(bool AGated);

private:
    bool WaitFor(const bool& AFlag);
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false, FEntered = false, FReturned = false, FReleased = false;
};
