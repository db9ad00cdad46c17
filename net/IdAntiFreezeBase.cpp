#include "IdAntiFreezeBase.h"

#include "IdMainThreadQueue.h"

#include <algorithm>
#include <atomic>

namespace {
// Atomic because any thread may ask ShouldUse; only the window's thread goes further and
// touches the instance, and that is the thread that creates and destroys it.
std::atomic<TIdAntiFreezeBase*> gAntiFreeze{nullptr};
} // namespace

TIdAntiFreezeBase::TIdAntiFreezeBase() {
    gAntiFreeze.store(this);
}

// Destroying an anti-freeze that a later one replaced must not unregister the later one.
TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    TIdAntiFreezeBase* self = this;
    gAntiFreeze.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Registered() {
    return gAntiFreeze.load();
}

int32_t TIdAntiFreezeBase::IdleSlice() {
    return std::max(MinIdleSlice, gAntiFreeze.load()->IdleTimeOut());
}

bool TIdAntiFreezeBase::ShouldUse() {
    TIdAntiFreezeBase* antiFreeze = gAntiFreeze.load();
    return antiFreeze != nullptr && TIdMainThreadQueue::Instance().IsMainThread() &&
           antiFreeze->Active();
}

void TIdAntiFreezeBase::DoProcess(bool AIdle, bool AOverride) {
    if (!ShouldUse()) {
        return;
    }
    TIdAntiFreezeBase* antiFreeze = gAntiFreeze.load();
    if (AIdle || !antiFreeze->OnlyWhenIdle() || AOverride) {
        antiFreeze->Process();
    }
}
