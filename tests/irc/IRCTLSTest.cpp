// The IRC component over TLS against a real server (ngircd serving a throwaway authority's
// certificate): only the handler differs from a plain session.
#include "IRCFixture.h"
#include "IdSSLIOHandlerSocket.h"
#include "NgircdServer.h"
#include "TestCertificates.h"

#include <algorithm>

namespace {

struct TLSSide {
    TLSSide(int APort, const std::string& ANick, const std::string& ACAFile) {
        handler.SetCAFile(ACAFile);
        irc.SetIOHandler(&handler);
        irc.SetHost("localhost");
        irc.SetPort(APort);
        irc.SetNick(ANick);
        irc.SetSendInterval(0); // nothing here drives a send queue
        log.Bind(irc);
    }
    bool Has(const std::string& AStart) const {
        return std::any_of(log.Lines.begin(), log.Lines.end(),
                           [&](const std::string& ALine) { return ALine.starts_with(AStart); });
    }

    TIdSSLIOHandlerSocket handler; // outlives the component that reads through it
    EventLog log;                  // outlives the component that writes to it
    TIdIRC irc;
};

} // namespace

using IRCTLS = IRCFixture;

TEST_F(IRCTLS, RegistersAndTalksInAChannel) {
    const TestCertificates certs;
    NgircdServer ngircd(
        {.FloodPenalty = false, .TLSCert = certs.Server.Cert, .TLSKey = certs.Server.Key});
    TLSSide alice(ngircd.TLSPort(), "alice", certs.CAFile.string());
    TLSSide bob(ngircd.TLSPort(), "bob", certs.CAFile.string());
    alice.irc.Connect();
    bob.irc.Connect();
    ASSERT_TRUE(Pump([&] {
        return alice.irc.State() == csLoggedIn && bob.irc.State() == csLoggedIn;
    })) << ngircd.Log();

    alice.irc.Join("#tls");
    ASSERT_TRUE(Pump([&] { return alice.Has("Joined #tls"); }));
    bob.irc.Join("#tls");
    ASSERT_TRUE(Pump([&] { return bob.Has("Joined #tls") && alice.Has("Join bob #tls"); }));
    alice.irc.Say("#tls", "sealed on the wire");
    EXPECT_TRUE(Pump([&] { return bob.Has("Message alice #tls sealed on the wire"); }));

    alice.irc.Disconnect(true);
    EXPECT_TRUE(Pump([&] { return bob.Has("Quit alice"); }));
}
