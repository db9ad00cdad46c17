#include "IdIRCCTCPLimiter.h"

#include <algorithm>
#include <utility>

TIdIRCCTCPLimiter::TIdIRCCTCPLimiter(TClock AClock) : FClock(std::move(AClock)) {}

bool TIdIRCCTCPLimiter::Allow(std::string_view ASender) {
    const auto now = FClock();
    while (!FRecent.empty() && now - FRecent.front().At >= PerSender) {
        FRecent.pop_front();
    }
    if (!FRecent.empty() && now - FRecent.back().At < Overall) {
        return false;
    }
    std::string sender(ASender);
    std::transform(sender.begin(), sender.end(), sender.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    if (std::any_of(FRecent.begin(), FRecent.end(),
                    [&](const TAnswer& answer) { return answer.Sender == sender; })) {
        return false;
    }
    FRecent.push_back({now, std::move(sender)});
    return true;
}
