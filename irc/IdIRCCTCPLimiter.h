// The rate limit on automatic CTCP answers. A channel full of VERSION or PING queries would
// otherwise make the client answer each one and be disconnected for flooding.
//
// An answer is allowed when the last answer to anyone was at least a second ago and the last
// answer to this sender at least two seconds ago; the rest are dropped (the query's event is
// still raised, only the answer is not sent). Dropped queries do not count: a sender who keeps
// asking is answered once every two seconds. Senders are told apart by nick, in any letter
// case. Only answers of the last two seconds are kept, and answers are a second apart, so at
// most two are remembered however many senders there are.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

class TIdIRCCTCPLimiter {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds PerSender{2};
    static constexpr std::chrono::seconds Overall{1};

    // The clock is the steady clock unless a test gives its own.
    explicit TIdIRCCTCPLimiter(TClock AClock = std::chrono::steady_clock::now);

    // Whether an answer to ASender may go now; a true answer counts as sent.
    bool Allow(std::string_view ASender);
    size_t Remembered() const { return FRecent.size(); }

private:
    struct TAnswer {
        std::chrono::steady_clock::time_point At;
        std::string Sender; // lower case
    };

    TClock FClock;
    std::deque<TAnswer> FRecent; // oldest first
};
