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

// Polls APredicate until it holds or ALimit passes; returns its last value.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ALimit = HangLimit);

inline long ElapsedMs(std::chrono::steady_clock::time_point AStart) {
    using namespace std::chrono;
    return long(duration_cast<milliseconds>(steady_clock::now() - AStart).count());
}

// What AAction raised: the text of an exception of type E, or "(nothing raised)". Another
// type escapes, and the test fails on it.
template <typename E, typename F> std::string Raised(F&& AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Aborts the test program with AWhat if still alive after ALimit: for calls that cannot take a
// time-out themselves (a WaitFor that would deadlock, a destructor that would hang).
class Watchdog {
public:
    explicit Watchdog(std::string AWhat, std::chrono::milliseconds ALimit = 2 * HangLimit);
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
// Release. Disarmed after one call.
class CallGate {
public:
    void Arm();
    void Release();
    // Each waits up to HangLimit; false on time-out.
    bool WaitEntered();
    bool WaitReturned();

    bool Enter();
    void Leave(bool AGated);

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false;
    bool FEntered = false;
    bool FReturned = false;
    bool FReleased = false;
};
