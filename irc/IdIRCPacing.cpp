// TIdIRC's paced sending and its watch over a silent connection. Both are driven by the
// owner's timer on the window's thread, like every other call of the component.
#include "IdIRC.h"

#include "IdException.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Millis(int32_t AValue) {
    return std::chrono::milliseconds(std::max<int32_t>(AValue, 0));
}

} // namespace

void TIdIRC::ResetPacing() {
    FUnsentCount = FSendQueue.size();
    FSendQueue.clear();
    FSendCredit = FSendBurst;
    FCreditAt = FClock();
}

void TIdIRC::RefillSendCredit(Clock::time_point ANow) {
    if (FSendCredit >= FSendBurst) {
        FCreditAt = ANow; // a full bucket earns nothing while it waits
        return;
    }
    const auto interval = Millis(FSendInterval);
    if (interval.count() == 0) {
        FSendCredit = FSendBurst;
        FCreditAt = ANow;
        return;
    }
    const auto earned = (ANow - FCreditAt) / interval;
    if (earned <= 0) {
        return;
    }
    FSendCredit = int32_t(std::min<int64_t>(FSendBurst, FSendCredit + int64_t(earned)));
    FCreditAt += earned * interval;
}

void TIdIRC::SendPaced(const std::vector<std::string>& ALines) {
    RefillSendCredit(FClock());
    // Lines already waiting go first: a new line never overtakes them.
    size_t now = FSendQueue.empty() ? std::min<size_t>(ALines.size(), size_t(FSendCredit)) : 0;
    if (FSendInterval <= 0) {
        now = ALines.size(); // not paced
    }
    if (ALines.size() - now > FSendQueueLimit - std::min(FSendQueueLimit, FSendQueue.size())) {
        throw EIdIRCSendQueueFull("Too many lines are waiting to be sent (" +
                                  std::to_string(FSendQueue.size()) +
                                  "): this text was not sent. Try again in a few seconds.");
    }
    for (size_t i = 0; i < ALines.size(); ++i) {
        if (i < now) {
            FSendCredit = std::max(FSendCredit - 1, 0);
            WriteWireLine(ALines[i]);
        } else {
            FSendQueue.push_back(ALines[i]);
        }
    }
    if (now < ALines.size()) {
        RaiseEvent(OnSendQueued, this);
    }
}

void TIdIRC::SendUrgent(const std::string& ALine) {
    if (Connected()) {
        WriteWireLine(ALine);
    }
}

void TIdIRC::SendDue() {
    if (!Connected()) {
        ResetPacing();
        return;
    }
    RefillSendCredit(FClock());
    while (!FSendQueue.empty() && FSendCredit > 0) {
        --FSendCredit;
        const std::string line = std::move(FSendQueue.front());
        FSendQueue.pop_front();
        WriteWireLine(line);
    }
}

int32_t TIdIRC::SendDelay() {
    if (FSendQueue.empty()) {
        return -1;
    }
    const Clock::time_point now = FClock();
    RefillSendCredit(now);
    if (FSendCredit > 0) {
        return 0;
    }
    const auto due = FCreditAt + Millis(FSendInterval);
    return int32_t(
        std::chrono::ceil<std::chrono::milliseconds>(std::max(due - now, Clock::duration(0)))
            .count());
}

void TIdIRC::CheckAlive() {
    if (FState == csDisconnected || FState == csDisconnecting || !Connected()) {
        return;
    }
    const Clock::time_point now = FClock();
    if (!FPingOut && now - FLastReceived >= Millis(FPingIdleTime)) {
        FPingOut = true;
        FLastReceived = now; // the wait for an answer starts
        try {
            SendUrgent("PING :" + (FServerName.empty() ? Host() : FServerName));
        } catch (const EIdException& e) {
            // The link is gone already: lost now rather than after the wait.
            FLostReason = e.what();
            Disconnect(true);
        }
        return;
    }
    if (FPingOut && now - FLastReceived >= Millis(FPingWaitTime)) {
        const int32_t seconds = (FPingIdleTime + FPingWaitTime + 999) / 1000;
        FLostReason = "nothing from the server for " + std::to_string(seconds) +
                      " s, not even an answer to a PING";
        Disconnect(true);
    }
}
