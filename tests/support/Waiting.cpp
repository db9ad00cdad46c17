#include "Waiting.h"

#include <cstdio>
#include <cstdlib>

namespace TestSupport {

bool WaitUntil(const std::function<bool()>& APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + HangLimit;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return APredicate();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Watchdog::Watchdog(std::string AWhat) {
    FThread = std::thread([this, what = std::move(AWhat)] {
        std::unique_lock lock(FMutex);
        if (!FDone.wait_for(lock, 2 * HangLimit, [this] { return FCancelled; })) {
            std::fprintf(stderr, "Watchdog: hung in %s\n", what.c_str());
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(FMutex);
        FCancelled = true;
    }
    FDone.notify_all();
    FThread.join();
}

} // namespace TestSupport

void CallGate::Arm() {
    std::lock_guard lock(FLock);
    FArmed = true;
    FEntered = FReturned = FReleased = false;
}

void CallGate::Release() {
    std::lock_guard lock(FLock);
    FReleased = true;
    FChanged.notify_all();
}

bool CallGate::WaitFor(const bool& AFlag) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit, [&] { return AFlag; });
}

bool CallGate::Enter() {
    std::lock_guard lock(FLock);
    if (!FArmed || FEntered) {
        return false;
    }
    FEntered = true;
    FChanged.notify_all();
    return true;
}

void CallGate::Leave(bool AGated) {
    if (!AGated) {
        return;
    }
    std::unique_lock lock(FLock);
    FReturned = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FReleased; });
    FArmed = false;
}
