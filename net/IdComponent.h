// The base of every network component: removal notification, status texts, work
// brackets; every component keeps the socket stack alive (see ActiveStack in IdStack.h).
#pragma once

#include "IdEvents.h"

#include <cstdint>
#include <string>
#include <vector>

enum TOperation { opInsert, opRemove };

// The root of the component classes. It keeps the one notification mechanism the transport
// uses for references to components owned elsewhere (an external I/O handler, an intercept,
// SOCKS settings): a component that holds such a reference calls `FreeNotification` on the
// referenced one, and is told through `Notification(that, opRemove)` when it is destroyed, so
// it can clear its pointer. The registration is removed in both directions on destruction.
// Components are created, linked and destroyed on one thread at a time; this list is not
// locked.
class TIdBaseComponent {
public:
    TIdBaseComponent();
    virtual ~TIdBaseComponent();
    TIdBaseComponent(const TIdBaseComponent&) = delete;
    TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;

    // Ask to be told (through AComponent->Notification) when this component is destroyed.
    void FreeNotification(TIdBaseComponent* AComponent);
    void RemoveFreeNotification(TIdBaseComponent* AComponent);

protected:
    // Called on every component registered with FreeNotification when AComponent is being
    // destroyed (opRemove). AComponent is already partly destroyed: compare the pointer, do
    // not call it or cast it. Overrides clear their references and call the inherited one.
    virtual void Notification(TIdBaseComponent* AComponent, TOperation AOperation);

    // Tells every registered component that this one is going, and unlinks them all. The
    // destructor does it; TIdComponent does it earlier, while the socket stack still exists.
    void NotifyRemoval();

private:
    std::vector<TIdBaseComponent*> FFreeNotifies;
};

class TIdComponent : public TIdBaseComponent {
public:
    // Each component is a user of the socket stack: the first of the process creates it
    // (ActiveStack), the last one destroyed frees it (AcquireStack, ReleaseStack).
    TIdComponent();
    ~TIdComponent() override;

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    // Work brackets nest per direction: only the outermost pair raises OnWorkBegin and
    // OnWorkEnd, and DoWork outside any bracket is ignored.
    virtual void BeginWork(TWorkMode AWorkMode, int32_t ASize = 0);
    virtual void DoWork(TWorkMode AWorkMode, int32_t ACount);
    virtual void EndWork(TWorkMode AWorkMode);
    // True inside a work bracket of that direction, where DoWork reports anything at all.
    bool WorkBracketOpen(TWorkMode AWorkMode) const { return FWorkInfos[AWorkMode].Level > 0; }

    // Raises OnStatus with the status's fixed text. Without an argument the text is
    // formatted with one empty string ("Resolving hostname ." for hsResolving).
    void DoStatus(TIdStatus AStatus);
    void DoStatus(TIdStatus AStatus, const std::string& AArgument);

    // The number of live components in the process (for tests of the stack's lifetime).
    static int ComponentCount();

private:
    struct TWorkInfo {
        int32_t Count = 0;
        int32_t Max = 0;
        int32_t Level = 0;
    };
    TWorkInfo FWorkInfos[2];
};

// The fixed status text pattern of a status value ("Connecting to %s.").
const char* StatusText(TIdStatus AStatus);
