#include "Waiting.h"

#include <cstdio>
#include <cstdlib>

namespace TestSupport {

bool WaitUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ALimit) {
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return APredicate();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Watchdog::Watchdog(std::string AWhat, std::chrono::milliseconds ALimit) {
    FThread = std::thread([this, what = std::move(AWhat), ALimit] {
        std::unique_lock<std::mutex> lock(FMutex);
        if (!FDone.wait_for(lock, ALimit, [this] { return FCancelled; })) {
            std::fprintf(stderr, "Watchdog: hung in %s\n", what.c_str());
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FCancelled = true;
    }
    FDone.notify_all();
    FThread.join();
}

} // namespace TestSupport

void CallGate::Arm() {
    std::lock_guard<std::mutex> lock(FLock);
    FArmed = true;
    FEntered = FReturned = FReleased = false;
}

void CallGate::Release() {
    std::lock_guard<std::mutex> lock(FLock);
    FReleased = true;
    FChanged.notify_all();
}

bool CallGate::WaitEntered() {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit, [this] { return FEntered; });
}

bool CallGate::WaitReturned() {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit, [this] { return FReturned; });
}

bool CallGate::Enter() {
    std::lock_guard<std::mutex> lock(FLock);
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
    std::unique_lock<std::mutex> lock(FLock);
    FReturned = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FReleased; });
    FArmed = false;
}
