// The TLS handler under a plain TIdTCPClient: against a real server (ngircd with a throwaway
// authority's certificates), scripted peers that break the handshake, and a TLS peer of the
// test's own that breaks the records after it.
#include "IdException.h"
#include "IdSSLIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "NgircdServer.h"
#include "TLSPeer.h"
#include "TestCertificates.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const TestCertificates& Certs() {
    static const TestCertificates certificates;
    return certificates;
}

// A client whose handler trusts ACAFile (empty: the system's store).
struct TLSClient {
    TLSClient(const std::string& AHost, int APort, const std::string& ACAFile,
              int32_t AReadTimeout = 0) {
        handler.SetCAFile(ACAFile);
        client.SetIOHandler(&handler);
        client.SetHost(AHost);
        client.SetPort(APort);
        client.SetReadTimeout(AReadTimeout);
        client.OnStatus = [this](TIdComponent*, TIdStatus AStatus, const std::string&) {
            disconnects += AStatus == hsDisconnected;
        };
    }
    // What Connect raised, or "" when it connected.
    std::string Connect() {
        try {
            client.Connect();
        } catch (const EIdException& e) {
            return e.what();
        }
        return std::string();
    }

    TIdSSLIOHandlerSocket handler; // outlives the client that uses it
    TIdTCPClient client;
    std::atomic<int> disconnects{0};
};

// An application data record header that announces ALength bytes, and AHave of them.
std::string Record(int ALength, size_t AHave) {
    return std::string{0x17, 0x03, 0x03, char(ALength >> 8), char(ALength & 0xFF)} +
           std::string(AHave, 'x');
}

} // namespace

// The chain and the name are checked on every connect, and a refusal names its reason. The
// rows share one authority; each runs its own server with the certificate in question.
TEST(TLS, VerifiesTheServerAndRefusesWithTheReason) {
    const TestCertificates& certs = Certs();
    const std::string trusted = certs.CAFile().string();
    const struct {
        const char* why;
        const TestCertificates::TPair& presented;
        std::string host;
        std::string trust;
        std::string refusal; // a piece of the error, "" to connect
    } cases[] = {
        {"a good certificate, reached by its name", certs.Server(), "localhost", trusted, ""},
        {"a good certificate, reached by its address", certs.Server(), "127.0.0.1", trusted, ""},
        {"the system's store does not know the test's authority", certs.Server(), "localhost", "",
         "is not from a trusted authority"},
        {"an authority nobody trusts", certs.UnknownAuthority(), "localhost", trusted,
         "is not from a trusted authority"},
        {"a certificate for another name", certs.OtherName(), "localhost", trusted,
         "the name does not match"},
        {"a certificate for another name, reached by address", certs.OtherName(), "127.0.0.1",
         trusted, "the name does not match"},
        {"an expired certificate", certs.Expired(), "localhost", trusted, "has expired"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        NgircdServer ngircd({.TLSCert = c.presented.Cert, .TLSKey = c.presented.Key});
        TLSClient tls(c.host, ngircd.TLSPort(), c.trust, 5000);
        const std::string raised = tls.Connect();
        if (c.refusal.empty()) {
            ASSERT_EQ(raised, "");
            EXPECT_NE(tls.handler.Cipher(), "");
            tls.client.WriteLn("NICK tls");
            tls.client.WriteLn("USER tls 0 * :tls");
            std::string line;
            while (line.find(" 001 tls ") == std::string::npos) {
                line = tls.client.ReadLn();
            }
            tls.client.Disconnect();
        } else {
            EXPECT_NE(raised.find(c.refusal), std::string::npos) << raised;
            EXPECT_NE(raised.find(c.host), std::string::npos) << raised;
            EXPECT_FALSE(tls.client.Connected()); // closed, nothing sent in plain text
        }
    }
}

// Peers that break the handshake end the connect with a clear error in bounded time, the
// socket closed; none hangs the client or brings it down.
TEST(TLS, BrokenHandshakesFailClearly) {
    const std::string hello("\x16\x03", 2); // the start of the client's first record
    const auto noticeFirst = [](LoopbackServer& s) {
        s.Send(":irc.example.net NOTICE * :*** Looking up your hostname...\r\n");
    };
    const auto errorToHello = [&](LoopbackServer& s) {
        s.WaitFor(hello).Send("ERROR :Closing link: (unknown@127.0.0.1) [Bad command]\r\n");
    };
    const auto garbage = [&](LoopbackServer& s) {
        s.WaitFor(hello).Send(std::string("\x16\x03\x03\x00\x05hello!", 10));
    };
    const auto oversized = [&](LoopbackServer& s) {
        s.WaitFor(hello).Send(std::string("\x16\x03\x03\xff\xff", 5) + std::string(200, 'x'));
    };
    const auto halfThenClose = [&](LoopbackServer& s) {
        s.WaitFor(hello).Send(std::string("\x16\x03\x03\x00\x40", 5) + "0123456789").Close();
    };
    const auto halfThenStall = [&](LoopbackServer& s) {
        s.WaitFor(hello).Send(std::string("\x16\x03\x03\x00\x40", 5) + "0123456789");
    };
    const auto closeAtOnce = [&](LoopbackServer& s) { s.WaitFor(hello).Close(); };
    const auto silent = [](LoopbackServer&) {};
    const struct {
        const char* why;
        std::function<void(LoopbackServer&)> script;
        std::string error;
    } cases[] = {
        {"a plain IRC server that greets first", noticeFirst, "does not speak TLS"},
        {"a plain IRC server that answers the hello", errorToHello, "does not speak TLS"},
        {"garbage in a record's clothes", garbage, "handshake with 127.0.0.1 failed"},
        {"a record longer than allowed", oversized, "handshake with 127.0.0.1 failed"},
        {"a close in the middle of a record", halfThenClose, "the server closed the connection"},
        {"a stall in the middle of a record", halfThenStall, "timed out waiting for the server"},
        {"a close before any answer", closeAtOnce, "the server closed the connection"},
        {"a server that says nothing (a silent plain port)", silent, "the server sent nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer server;
        c.script(server);
        TLSClient tls(LoopbackServer::Host(), server.Port(), Certs().CAFile().string(), 1000);
        const std::string raised = tls.Connect();
        EXPECT_NE(raised.find(c.error), std::string::npos) << raised;
        EXPECT_FALSE(tls.client.Connected());
        EXPECT_TRUE(server.WaitForClientClose()) << "the socket stays open";
    }
}

// A real plain server on the port the player took for TLS: ngircd says nothing to a hello.
TEST(TLS, RealPlainServerOnATLSPortIsRefused) {
    NgircdServer ngircd;
    TLSClient tls("localhost", ngircd.Port(), Certs().CAFile().string(), 1000);
    EXPECT_NE(tls.Connect().find("is this a TLS port?"), std::string::npos);
    EXPECT_FALSE(tls.client.Connected());
}

// After the handshake: records that are cut, altered or too long, read by a reader with a
// time-out. The lines before the fault are read; then the fault, reported once.
TEST(TLS, BrokenRecordsAfterTheHandshake) {
    const struct {
        const char* why;
        std::string raw; // after "one\r\n" through TLS
        TLSPeer::TEnd close;
        std::string error; // what the read after "one" raises
        bool closesOnce;   // the peer's close reported, exactly once
    } cases[] = {
        {"a close in the middle of a record", Record(64, 10), TLSPeer::HalfClose,
         EIdConnClosedGracefully::DefaultText, true},
        {"a close between records", "", TLSPeer::HalfClose, EIdConnClosedGracefully::DefaultText,
         true},
        {"a stall in the middle of a record", Record(64, 10), TLSPeer::KeepOpen, "Read Timeout",
         false},
        {"a record longer than allowed", Record(0x4801, 64), TLSPeer::KeepOpen,
         "the data from the server failed its checks", false},
        {"a record that fails its check", Record(32, 32), TLSPeer::KeepOpen,
         "the data from the server failed its checks", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TLSPeer peer(Certs().Server(), "one\r\n", c.raw, c.close);
        TLSClient tls("localhost", peer.Port(), Certs().CAFile().string(), 1000);
        ASSERT_EQ(tls.Connect(), "");
        EXPECT_EQ(tls.client.ReadLn(), "one");
        const std::string raised = TestSupport::Raised<EIdException>([&] { tls.client.ReadLn(); });
        EXPECT_NE(raised.find(c.error), std::string::npos) << raised;
        if (c.closesOnce) {
            EXPECT_FALSE(tls.client.Connected());
            EXPECT_EQ(tls.disconnects.load(), 1);
        }
        if (c.error != "Read Timeout") {
            EXPECT_TRUE(peer.WaitClientClosed()) << "the socket stays open";
        }
    }
}

// Sends into a connection the peer has closed fail with a socket error, never SIGPIPE, and a
// local close wakes a reader blocked in a read.
TEST(TLS, ClosesOnEitherSide) {
    {
        TLSPeer peer(Certs().Server(), "", "", TLSPeer::CloseAll);
        TLSClient tls("localhost", peer.Port(), Certs().CAFile().string());
        ASSERT_EQ(tls.Connect(), "");
        std::string raised = "(nothing raised)";
        for (int i = 0; i < 1000 && raised == "(nothing raised)"; ++i) {
            raised = TestSupport::Raised<EIdException>([&] { tls.client.WriteLn("PING x"); });
        }
        EXPECT_NE(raised, "(nothing raised)");
    }
    {
        TLSPeer peer(Certs().Server(), "first\r\n");
        TLSClient tls("localhost", peer.Port(), Certs().CAFile().string());
        ASSERT_EQ(tls.Connect(), "");
        std::atomic<bool> readFirst{false};
        std::string ended;
        std::thread reader([&] {
            readFirst = tls.client.ReadLn() == "first";
            ended = TestSupport::Raised<EIdException>([&] { tls.client.ReadLn(); });
        });
        ASSERT_TRUE(TestSupport::WaitUntil([&] { return readFirst.load(); }));
        tls.client.Disconnect();
        reader.join();
        EXPECT_NE(ended, "(nothing raised)");
        EXPECT_TRUE(peer.WaitClientClosed());
    }
}
