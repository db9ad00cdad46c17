// A socket stack for tests: the platform stack, plus a count of name lookups, made-up host
// names that resolve without a lookup, and gates that hold a thread inside Recv or Select so
// a test can act while the call is known to be in flight.
//
// ProbeStackScope installs it as the stack class; the next component created (there must be
// none alive) creates it, and ProbeStack::Active() finds it.
#pragma once

#include "IdStackPosix.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

// Holds one call: it reports when the call has started and when the platform call has
// returned, and keeps the thread there until Release. Disarmed after one call.
class CallGate {
public:
    void Arm();
    void Release();
    // Waits up to AMSec; false on time-out.
    bool WaitEntered(int AMSec = 5000);
    bool WaitReturned(int AMSec = 5000);

    // Called by the stack around the platform call.
    bool Enter(); // true when this call is the gated one
    void Leave(bool AGated);

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false;
    bool FEntered = false;
    bool FReturned = false;
    bool FReleased = false;
};

class ProbeStack : public TIdStackPosix {
public:
    static ProbeStack* Active(); // the active stack if it is a ProbeStack, else null

    std::string HostByName(const std::string& AHostName) override;
    int32_t Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                 int32_t AFlags) override;
    int32_t Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                   TIdSocketHandles* AExceptList, int32_t ATimeout) override;

    // Name -> dotted address answered by HostByName (counted as a lookup all the same).
    // Set before the connecting thread uses the stack.
    std::map<std::string, std::string> FakeHosts;
    std::atomic<int> Lookups{0};
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
