// A socket stack for tests: the platform stack, plus a count of name lookups, made-up host
// names that resolve without a lookup, a peer-address question that fails on demand, and
// gates that hold a thread inside Recv or Select so a test can act while the call is known
// to be in flight.
//
// ProbeStackScope installs it as the stack class; the next component created (there must be
// none alive) creates it, and ProbeStack::Active() finds it.
#pragma once

#include "IdStackPosix.h"
#include "Waiting.h"

#include <atomic>
#include <map>
#include <string>

class ProbeStack : public TIdStackPosix {
public:
    static ProbeStack* Active(); // the active stack if it is a ProbeStack, else null

    std::string HostByName(const std::string& AHostName) override;
    int32_t Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                 int32_t AFlags) override;
    int32_t Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                   TIdSocketHandles* AExceptList, int32_t ATimeout) override;
    void PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                  int32_t& VPort) override;

    // Name -> dotted address answered by HostByName (counted as a lookup all the same).
    // Set before the connecting thread uses the stack.
    std::map<std::string, std::string> FakeHosts;
    std::atomic<int> Lookups{0};
    // PeerName raises 10057, as for a peer that reset the connection at once.
    std::atomic<bool> PeerGone{false};
    CallGate RecvGate;
    CallGate SelectGate;
};

class ProbeStackScope {
public:
    ProbeStackScope();
    ~ProbeStackScope();
    ProbeStackScope(const ProbeStackScope&) = delete;
    ProbeStackScope& operator=(const ProbeStackScope&) = delete;

private:
    TIdStackClass FPrevious;
};
