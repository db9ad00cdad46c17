// The component's tests: the test's thread is the window's thread (registered with the
// hand-off queue, which it drains while it waits), a loopback server plays the IRC server,
// and the received lines and unhandled commands are written down in order.
#pragma once

#include "IdIRC.h"
#include "IdMainThreadQueue.h"
#include "LoopbackServer.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

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
        unknown.clear();
        auto client = std::make_unique<TIdIRC>();
        client->SetHost(LoopbackServer::Host());
        client->SetPort(APeer.Port());
        client->SetBoundIP("127.0.0.1");
        client->SetSendInterval(0); // nothing here drives a send queue
        client->OnReceive = [this](TIdIRC*, const std::string& ALine) {
            received.push_back(ALine);
        };
        client->OnUnknownCommand = [this](TIdIRC*, TIdIRCUser*, const std::string& ACommand,
                                          const std::string&) { unknown.push_back(ACommand); };
        return client;
    }
    void CreateAndConnect() {
        irc = Aimed(server);
        irc->Connect();
    }

    // Runs the reader's hand-offs until APredicate holds; false after the hang limit.
    bool Pump(const std::function<bool()>& APredicate) {
        return Queue().ProcessPendingUntil(APredicate, int(TestSupport::HangLimit.count()));
    }
    bool PumpUntilReceived(size_t ACount) {
        return Pump([&] { return received.size() >= ACount; });
    }
    bool PumpUntilReaderEnded() {
        return Pump([&] { return irc->ReadThreadEnded(); });
    }

    LoopbackServer server;
    std::unique_ptr<TIdIRC> irc;
    std::vector<std::string> received; // OnReceive
    std::vector<std::string> unknown;  // OnUnknownCommand's command
};
