#include "ProbeStack.h"

#include "IdComponent.h"

#include <gtest/gtest.h>

#include <chrono>

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

bool CallGate::WaitEntered(int AMSec) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(AMSec), [this] { return FEntered; });
}

bool CallGate::WaitReturned(int AMSec) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(AMSec), [this] { return FReturned; });
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

ProbeStack* ProbeStack::Active() {
    return dynamic_cast<ProbeStack*>(ActiveStack());
}

std::string ProbeStack::HostByName(const std::string& AHostName) {
    ++Lookups;
    const auto fake = FakeHosts.find(AHostName);
    return fake != FakeHosts.end() ? fake->second : TIdStackPosix::HostByName(AHostName);
}

int32_t ProbeStack::Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                         int32_t AFlags) {
    const bool gated = RecvGate.Enter();
    const int32_t result = TIdStackPosix::Recv(ASocket, ABuffer, ABufferLength, AFlags);
    RecvGate.Leave(gated); // the stack keeps a failure's code per thread: still there after
    return result;
}

int32_t ProbeStack::Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                           TIdSocketHandles* AExceptList, int32_t ATimeout) {
    const bool gated = SelectGate.Enter();
    const int32_t result = TIdStackPosix::Select(AReadList, AWriteList, AExceptList, ATimeout);
    SelectGate.Leave(gated);
    return result;
}

ProbeStackScope::ProbeStackScope() : FPrevious(StackClass()) {
    EXPECT_EQ(TIdComponent::ComponentCount(), 0) << "a live component keeps the old stack";
    SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<ProbeStack>(); });
}

ProbeStackScope::~ProbeStackScope() {
    SetStackClass(FPrevious);
}
