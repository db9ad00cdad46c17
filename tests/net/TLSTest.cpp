// The TLS handler under a plain TIdTCPClient: against a real server (ngircd with a throwaway
// authority's certificates), scripted peers that break the handshake, and a TLS peer that
// breaks the records after it.
#include "IdException.h"
#include "IdSSLIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "NgircdServer.h"
#include "TLSPeer.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const TestCertificates& Certs() {
    static const TestCertificates certificates;
    return certificates;
}

// A client whose handler trusts ACAFile (empty: the system's store), counting reported closes.
struct TLSClient {
    TLSClient(const std::string& AHost, int APort, int32_t AReadTimeout = 0,
              const std::string& ACAFile = Certs().CAFile.string()) {
        handler.SetCAFile(ACAFile);
        client.SetIOHandler(&handler);
        client.SetHost(AHost);
        client.SetPort(APort);
        client.SetReadTimeout(AReadTimeout);
        client.OnStatus = [this](TIdComponent*, TIdStatus AStatus, const std::string&) {
            closes += AStatus == hsDisconnected;
        };
    }
    std::string Connect() {
        return TestSupport::Raised<EIdException>([&] { client.Connect(); });
    }

    TIdSSLIOHandlerSocket handler; // outlives the client that uses it
    TIdTCPClient client;
    std::atomic<int> closes{0};
};

// An application data record's header announcing ALength bytes, and AHave of them.
std::string Record(int ALength, size_t AHave) {
    return std::string{0x17, 0x03, 0x03, char(ALength >> 8), char(ALength & 0xFF)} +
           std::string(AHave, 'x');
}

const std::string kNone = "(nothing raised)";

} // namespace

// The chain and the name are checked on every connect, and a refusal names its reason.
TEST(TLS, VerifiesTheServerAndRefusesWithTheReason) {
    const TestCertificates& certs = Certs();
    const struct {
        const char* why;
        const TestCertificates::TPair& presented;
        std::string host;
        std::string refusal; // a piece of the error; kNone connects
        bool system = false; // trust the system's store, not the test's authority
        bool plain = false;  // dial the server's plain-text port
    } cases[] = {
        {"a good certificate, reached by its name", certs.Server, "localhost", kNone},
        {"a good certificate, reached by its address", certs.Server, "127.0.0.1", kNone},
        {"the system's store does not know the test's authority", certs.Server, "localhost",
         "is not from a trusted authority", true},
        {"an authority nobody trusts", certs.UnknownAuthority, "localhost",
         "is not from a trusted authority"},
        {"a certificate for another name", certs.OtherName, "localhost", "name does not match"},
        {"a certificate for another name, reached by address", certs.OtherName, "127.0.0.1",
         "name does not match"},
        {"an expired certificate", certs.Expired, "localhost", "has expired"},
        {"ngircd's plain port, silent to a hello", certs.Server, "localhost",
         "sent nothing (is this a TLS port?)", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        NgircdServer ngircd({.TLSCert = c.presented.Cert, .TLSKey = c.presented.Key});
        TLSClient tls(c.host, c.plain ? ngircd.Port() : ngircd.TLSPort(), c.plain ? 1000 : 5000,
                      c.system ? "" : certs.CAFile.string());
        const std::string raised = tls.Connect();
        EXPECT_NE(raised.find(c.refusal), std::string::npos) << raised;
        if (c.refusal == kNone) {
            tls.client.WriteLn("NICK tls\r\nUSER tls 0 * :tls");
            while (tls.client.ReadLn().find(" 001 tls ") == std::string::npos) {
            }
        } else {
            EXPECT_NE(raised.find(c.host), std::string::npos) << raised;
            EXPECT_FALSE(tls.client.Connected()); // closed, nothing sent in plain text
        }
    }
}

// Peers that break the handshake end the connect with a clear error, in bounded time, with the
// socket closed.
TEST(TLS, BrokenHandshakesFailClearly) {
    const std::string half = std::string("\x16\x03\x03\x00\x40", 5) + "0123456789";
    const struct {
        const char* why;
        bool afterHello; // the peer waits for the client's first record
        std::string sends;
        bool closes;
        std::string error;
    } cases[] = {
        {"a plain IRC server that greets first", false,
         ":irc.example.net NOTICE * :*** Looking up your hostname...\r\n", false,
         "does not speak TLS"},
        {"a plain IRC server that answers the hello", true, "ERROR :Closing link\r\n", false,
         "does not speak TLS"},
        {"garbage in a record's clothes", true, std::string("\x16\x03\x03\x00\x05hello", 10), false,
         "handshake with 127.0.0.1 failed"},
        {"a record longer than allowed", true,
         std::string("\x16\x03\x03\xff\xff", 5) + std::string(200, 'x'), false,
         "handshake with 127.0.0.1 failed"},
        {"a close in the middle of a record", true, half, true, "server closed the connection"},
        {"a stall in the middle of a record", true, half, false, "timed out waiting"},
        {"a close before any answer", true, "", true, "server closed the connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        LoopbackServer server;
        if (c.afterHello) {
            server.WaitFor(std::string("\x16\x03", 2));
        }
        server.Send(c.sends);
        if (c.closes) {
            server.Close();
        }
        TLSClient tls(LoopbackServer::Host(), server.Port(), 1000);
        const std::string raised = tls.Connect();
        EXPECT_NE(raised.find(c.error), std::string::npos) << raised;
        EXPECT_TRUE(server.WaitForClientClose()) << "the socket stays open";
    }
}

// After the handshake: records cut, altered or too long. The line before the fault is read;
// then the fault, reported once.
TEST(TLS, BrokenRecordsAfterTheHandshake) {
    const struct {
        const char* why;
        std::string raw; // after "one\r\n" through TLS
        TLSPeer::TEnd end;
        std::string error; // a piece of what the read after "one" raises
    } cases[] = {
        {"a close in the middle of a record", Record(64, 10), TLSPeer::HalfClose,
         EIdConnClosedGracefully::DefaultText},
        {"a close between records", "", TLSPeer::HalfClose, EIdConnClosedGracefully::DefaultText},
        {"a stall in the middle of a record", Record(64, 10), TLSPeer::KeepOpen, "Read Timeout"},
        {"a record longer than allowed", Record(0x4801, 64), TLSPeer::KeepOpen,
         "failed its checks (packet length too long)"},
        {"a record that fails its check", Record(32, 32), TLSPeer::KeepOpen, "failed its checks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TLSPeer peer(Certs().Server, "one\r\n", c.raw, c.end);
        TLSClient tls("localhost", peer.Port(), 1000);
        ASSERT_EQ(tls.Connect(), kNone);
        EXPECT_EQ(tls.client.ReadLn(), "one");
        const std::string raised = TestSupport::Raised<EIdException>([&] { tls.client.ReadLn(); });
        EXPECT_NE(raised.find(c.error), std::string::npos) << raised;
        if (c.end == TLSPeer::HalfClose) {
            EXPECT_FALSE(tls.client.Connected());
            EXPECT_EQ(tls.closes.load(), 1);
        }
        if (c.error != "Read Timeout") {
            EXPECT_TRUE(peer.WaitClientClosed()) << "the socket stays open";
        }
    }
}

// Sends into a connection the peer has closed raise a socket error, never SIGPIPE; a local
// close wakes a reader blocked in a read.
TEST(TLS, ClosesOnEitherSide) {
    {
        TLSPeer peer(Certs().Server, "", "", TLSPeer::CloseAll);
        TLSClient tls("localhost", peer.Port());
        ASSERT_EQ(tls.Connect(), kNone);
        std::string raised = kNone;
        EXPECT_TRUE(TestSupport::WaitUntil([&] {
            raised = TestSupport::Raised<EIdException>([&] { tls.client.WriteLn("PING x"); });
            return raised != kNone;
        }));
        EXPECT_EQ(raised.rfind("Socket Error # ", 0), 0u) << raised;
    }
    TLSPeer peer(Certs().Server, "first\r\n");
    TLSClient tls("localhost", peer.Port());
    ASSERT_EQ(tls.Connect(), kNone);
    std::atomic<bool> readFirst{false};
    std::string ended;
    std::thread reader([&] {
        readFirst = tls.client.ReadLn() == "first";
        ended = TestSupport::Raised<EIdException>([&] { tls.client.ReadLn(); });
    });
    EXPECT_TRUE(TestSupport::WaitUntil([&] { return readFirst.load(); }));
    tls.client.Disconnect();
    reader.join();
    EXPECT_NE(ended, kNone);
    EXPECT_TRUE(peer.WaitClientClosed());
}
