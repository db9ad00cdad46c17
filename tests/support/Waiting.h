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
