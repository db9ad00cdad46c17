#include "ProbeStack.h"

#include "IdComponent.h"
#include "IdSocketErrors.h"

#include <gtest/gtest.h>

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

void ProbeStack::PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                          int32_t& VPort) {
    if (PeerGone) {
        RaiseSocketError(Id::WSAENOTCONN);
    }
    TIdStackPosix::PeerName(ASocket, VFamily, VIP, VPort);
}

ProbeStackScope::ProbeStackScope() : FPrevious(StackClass()) {
    EXPECT_EQ(TIdComponent::ComponentCount(), 0) << "a live component keeps the old stack";
    SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<ProbeStack>(); });
}

ProbeStackScope::~ProbeStackScope() {
    SetStackClass(FPrevious);
}
