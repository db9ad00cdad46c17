// The test's thread is the window's thread (it drains the hand-off queue while it waits), a
// loopback server plays the IRC server, and received lines and events are written down.
#pragma once

#include "EventLog.h"
#include "IdIRC.h"
#include "IdMainThreadQueue.h"
#include "LoopbackServer.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// AText cut at every ASeparator; an empty text is no piece at all.
inline std::vector<std::string> Split(const std::string& AText, char ASeparator) {
    std::vector<std::string> pieces;
    std::istringstream in(AText);
    for (std::string piece; std::getline(in, piece, ASeparator);) {
        pieces.push_back(piece);
    }
    return pieces;
}

class IRCFixture : public ::testing::Test {
public:
    void SetUp() override { Queue().RegisterMainThread(); }
    void TearDown() override {
        irc.reset();
        Queue().UnregisterMainThread();
    }
    static TIdMainThreadQueue& Queue() { return TIdMainThreadQueue::Instance(); }

    // A component aimed at APeer, bound to 127.0.0.1 (so the USER line names that address).
    std::unique_ptr<TIdIRC> Aimed(const LoopbackServer& APeer) {
        received.clear();
        auto client = std::make_unique<TIdIRC>();
        client->SetHost(LoopbackServer::Host());
        client->SetPort(APeer.Port());
        client->SetBoundIP("127.0.0.1");
        client->SetSendInterval(0); // nothing here drives a send queue
        client->OnReceive = [this](TIdIRC*, const std::string& ALine) {
            received.push_back(ALine);
        };
        return client;
    }
    // Connects as "me" (alternative "alt") with every event logged, then hands over ASession's
    // lines ("\n" between) as the reader would. Only the first CTCP query is answered.
    void Start(const std::string& ASession) {
        irc = Aimed(server);
        irc->SetNick("me");
        irc->SetAltNick("alt");
        irc->Replies().SetVersion("v1");
        irc->CTCPLimiter() =
            TIdIRCCTCPLimiter([] { return std::chrono::steady_clock::time_point(); });
        log.Bind(*irc);
        irc->Connect();
        Feed(ASession);
    }
    // Hands over each line in turn, log holding only the last one's events. A line starting
    // with "/" is sent instead, as a typed raw line.
    void Feed(const std::string& ALines) {
        for (const std::string& line : Split(ALines, '\n')) {
            if (!irc) {
                return; // a handler destroyed it
            }
            log.Lines.clear();
            line.starts_with("/") ? irc->SendLine(line.substr(1)) : irc->HandleReceivedLine(line);
        }
    }
    bool Pump(const std::function<bool()>& APredicate) {
        return Queue().ProcessPendingUntil(APredicate, int(TestSupport::HangLimit.count()));
    }

    LoopbackServer server;
    std::unique_ptr<TIdIRC> irc;
    std::vector<std::string> received; // OnReceive
    EventLog log;
};
