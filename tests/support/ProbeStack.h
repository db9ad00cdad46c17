// The platform stack with a made-up answer for this machine's own name, a peer-address
// question that fails on demand (as after a reset) and a gate that holds a thread inside Recv.
// ProbeStackScope makes it the stack class: the next component (none alive) creates it.
#pragma once

#include "IdComponent.h"
#include "IdSocketErrors.h"
#include "Waiting.h"
#ifdef _WIN32
#include "IdStackWindows.h"
using TIdPlatformStack = TIdStackWindows;
#else
#include "IdStackPosix.h"
using TIdPlatformStack = TIdStackPosix;
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

class ProbeStack : public TIdPlatformStack {
public:
    static ProbeStack* Active() { return dynamic_cast<ProbeStack*>(ActiveStack()); }

    void PopulateLocalAddresses() override {
        if (!OwnNameAddresses) {
            TIdPlatformStack::PopulateLocalAddresses();
            return;
        }
        FLocalAddresses = *OwnNameAddresses;
        if (FLocalAddresses.empty()) {
            RaiseSocketError(Id::WSAHOST_NOT_FOUND);
        }
    }
    int32_t Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ALength,
                 int32_t AFlags) override {
        const bool held = RecvGate.Enter();
        const int32_t result = TIdPlatformStack::Recv(ASocket, ABuffer, ALength, AFlags);
        RecvGate.Leave(held); // a failure's code is kept per thread: still there after
        return result;
    }
    void PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                  int32_t& VPort) override {
        if (PeerGone) {
            RaiseSocketError(Id::WSAENOTCONN);
        }
        TIdPlatformStack::PeerName(ASocket, VFamily, VIP, VPort);
    }

    // What the lookup of this machine's own name finds instead of asking the resolver: these
    // addresses, or for an empty list "Host not found.". Unset: the platform's answer.
    std::optional<TIdStrings> OwnNameAddresses;
    std::atomic<bool> PeerGone{false};
    CallGate RecvGate;
};

class ProbeStackScope {
public:
    ProbeStackScope() : FPrevious(StackClass()) {
        EXPECT_EQ(TIdComponent::ComponentCount(), 0) << "a live component keeps the old stack";
        SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<ProbeStack>(); });
    }
    ~ProbeStackScope() { SetStackClass(FPrevious); }
    ProbeStackScope(const ProbeStackScope&) = delete;
    ProbeStackScope& operator=(const ProbeStackScope&) = delete;

private:
    TIdStackClass FPrevious;
};
