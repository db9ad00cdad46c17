// The hook through which blocking calls made on the window's thread can keep the window
// responsive. At most one anti-freeze is registered per process (the last one created); with
// none registered, ShouldUse is false and DoProcess does nothing. Only the window's thread
// (the thread registered with TIdMainThreadQueue) ever runs Process. Create, use and destroy an
// anti-freeze on the window's thread.
#pragma once

#include "IdComponent.h"

#include <cstdint>

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // Registers this instance as the process's anti-freeze, replacing an earlier one.
    TIdAntiFreezeBase();
    // Clears the registration if it still names this instance.
    ~TIdAntiFreezeBase() override;

    bool Active() const { return FActive; }
    void SetActive(bool AValue) { FActive = AValue; }
    bool ApplicationHasPriority() const { return FApplicationHasPriority; }
    void SetApplicationHasPriority(bool AValue) { FApplicationHasPriority = AValue; }
    int32_t IdleTimeOut() const { return FIdleTimeOut; }
    void SetIdleTimeOut(int32_t AValue) { FIdleTimeOut = AValue; }
    bool OnlyWhenIdle() const { return FOnlyWhenIdle; }
    void SetOnlyWhenIdle(bool AValue) { FOnlyWhenIdle = AValue; }

    // Let the window's thread handle its pending messages.
    virtual void Process() = 0;

    // True when an anti-freeze is registered, the caller is the window's thread, and it is
    // Active.
    static bool ShouldUse();
    // Calls the registered anti-freeze's Process when ShouldUse, and the wait is idle, or
    // the anti-freeze does not insist on idle waits, or AOverride.
    static void DoProcess(bool AIdle = false, bool AOverride = false);

    // The registered instance, or null.
    static TIdAntiFreezeBase* Registered();

    // The slice a wait on the window's thread is cut into: the registered anti-freeze's idle
    // time-out, but at least MinIdleSlice, so that an idle time-out of 0 or less cannot turn
    // a wait into a spin (or a slicing that never shrinks the wait). Only when ShouldUse.
    static constexpr int32_t MinIdleSlice = 1;
    static int32_t IdleSlice();

private:
    bool FActive = true;
    bool FApplicationHasPriority = true;
    int32_t FIdleTimeOut = 250;
    bool FOnlyWhenIdle = true;
};
