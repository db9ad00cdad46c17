#include "IdComponent.h"

#include "IdStack.h"

#include <algorithm>

namespace {

void Unlink(std::vector<TIdBaseComponent*>& list, TIdBaseComponent* component) {
    list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

} // namespace

TIdBaseComponent::TIdBaseComponent() = default;

TIdBaseComponent::~TIdBaseComponent() {
    NotifyRemoval();
}

// The list is taken first, and each entry unlinked before its call, so a Notification
// override may itself call RemoveFreeNotification or FreeNotification without disturbing
// this loop.
void TIdBaseComponent::NotifyRemoval() {
    std::vector<TIdBaseComponent*> notifies;
    notifies.swap(FFreeNotifies);
    for (TIdBaseComponent* other : notifies) {
        Unlink(other->FFreeNotifies, this);
    }
    for (TIdBaseComponent* other : notifies) {
        other->Notification(this, opRemove);
    }
}

// The link goes both ways: whichever of the two is destroyed first tells the other.
void TIdBaseComponent::FreeNotification(TIdBaseComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) {
        return;
    }
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(AComponent);
    }
    auto& theirs = AComponent->FFreeNotifies;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) {
        theirs.push_back(this);
    }
}

void TIdBaseComponent::RemoveFreeNotification(TIdBaseComponent* AComponent) {
    if (AComponent == nullptr) {
        return;
    }
    Unlink(FFreeNotifies, AComponent);
    Unlink(AComponent->FFreeNotifies, this);
}

void TIdBaseComponent::Notification(TIdBaseComponent*, TOperation) {}

TIdComponent::TIdComponent() {
    AcquireStack();
}

// Those holding a reference hear of the removal before the stack can go with the last
// component, so a Notification override may still use ActiveStack.
TIdComponent::~TIdComponent() {
    NotifyRemoval();
    ReleaseStack();
}

int TIdComponent::ComponentCount() {
    return StackUsers();
}

void TIdComponent::BeginWork(TWorkMode AWorkMode, int32_t ASize) {
    TWorkInfo& info = FWorkInfos[AWorkMode];
    if (++info.Level == 1) {
        info.Max = ASize;
        info.Count = 0;
        RaiseEvent(OnWorkBegin, this, AWorkMode, ASize);
    }
}

void TIdComponent::DoWork(TWorkMode AWorkMode, int32_t ACount) {
    TWorkInfo& info = FWorkInfos[AWorkMode];
    if (info.Level > 0) {
        info.Count += ACount;
        RaiseEvent(OnWork, this, AWorkMode, info.Count);
    }
}

// An EndWork without its BeginWork is ignored, so the level never goes below 0 and a later
// bracket still raises its events.
void TIdComponent::EndWork(TWorkMode AWorkMode) {
    TWorkInfo& info = FWorkInfos[AWorkMode];
    if (info.Level == 0) {
        return;
    }
    if (info.Level == 1) {
        RaiseEvent(OnWorkEnd, this, AWorkMode);
    }
    --info.Level;
}

void TIdComponent::DoStatus(TIdStatus AStatus) {
    DoStatus(AStatus, std::string());
}

// The texts hold at most one "%s", which is replaced by hand: the argument is never read as
// a format, whatever it contains.
void TIdComponent::DoStatus(TIdStatus AStatus, const std::string& AArgument) {
    if (!OnStatus) {
        return;
    }
    std::string text = StatusText(AStatus);
    const size_t pos = text.find("%s");
    if (pos != std::string::npos) {
        text.replace(pos, 2, AArgument);
    }
    OnStatus(this, AStatus, text);
}

const char* StatusText(TIdStatus AStatus) {
    switch (AStatus) {
    case hsResolving:
        return "Resolving hostname %s.";
    case hsConnecting:
        return "Connecting to %s.";
    case hsConnected:
        return "Connected.";
    case hsDisconnecting:
        return "Disconnecting.";
    case hsDisconnected:
        return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted:
        return "%s";
    }
    return "%s";
}
