// The TLS handler under a plain TIdTCPClient, against a scripted peer that presents a throwaway
// authority's certificates or breaks the connection before, during or after the handshake.
#include "IdException.h"
#include "IdSSLIOHandlerSocket.h"
#include "IdTCPClient.h"
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

// A client of APort whose handler trusts the tests' authority, or the system's store.
struct TLSClient {
    TLSClient(const std::string& AHost, int APort, bool ASystemStore = false) {
        handler.SetCAFile(ASystemStore ? "" : Certs().CAFile);
        client.SetIOHandler(&handler);
        client.SetHost(AHost);
        client.SetPort(APort);
        client.SetReadTimeout(1000);
    }
    TIdSSLIOHandlerSocket handler; // outlives the client that uses it
    TIdTCPClient client;
};

// A record's header of type AType announcing ALength bytes, and AHave of them.
std::string Record(char AType, int ALength, size_t AHave) {
    return std::string{AType, 0x03, 0x03, char(ALength >> 8), char(ALength & 0xFF)} +
           std::string(AHave, 'x');
}

} // namespace

// Every way a connection is refused or broken ends in an error that says why, with the socket
// closed (a stall after the handshake only times the read out, as over plain text); what came
// before a broken record is read first.
TEST(TLS, RefusalsAndBrokenPeersEndWithTheReason) {
    const TestCertificates::TPair server = Certs().Server, plain = {};
    const std::string handshake = Record(0x16, 64, 10), data = Record(0x17, 64, 10);
    const struct {
        const char* why;
        const TestCertificates::TPair& presented; // none: the peer speaks no TLS
        std::string raw;                          // sent onto the socket as it is
        bool closes;                              // the peer half-closes after raw
        std::string got; // the lines read, each with "|", then a piece of the error
        const char* host = "localhost";
        bool systemStore = false;
    } cases[] = {
        {"the system's store does not know the tests' authority", server, "", false,
         "TLS: the certificate of localhost is not from a trusted authority", "localhost", true},
        {"a certificate for another name", Certs().OtherName, "", false, "name does not match"},
        {"an address is checked apart from names", Certs().OtherName, "", false,
         "presented by 127.0.0.1 is for another name", "127.0.0.1"},
        {"a plain IRC server", plain, ":irc.example.net NOTICE * :*** Looking up your host\r\n",
         false, "localhost does not speak TLS on this port"},
        {"garbage in a record's clothes", plain, Record(0x16, 5, 5), false,
         "TLS handshake with localhost failed: "},
        {"a close in the middle of a handshake record", plain, handshake, true,
         "server closed the connection"},
        {"a stall in the middle of the handshake", plain, handshake, false, "timed out waiting"},
        {"a close in the middle of a record", server, data, true,
         "one|Connection Closed Gracefully."},
        {"a record longer than allowed", server, Record(0x17, 0x4801, 64), false,
         "one|TLS: the data from the server failed its checks (packet length too long)."},
        {"a stall in the middle of a record: the wait is kept whole", server, data, false,
         "one|Read Timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TLSPeer peer(c.presented, "one\r\n", c.raw, c.closes);
        TLSClient tls(c.host, peer.Port(), c.systemStore);
        std::string got;
        got += TestSupport::Raised<EIdException>([&] {
            tls.client.Connect();
            for (;;) {
                got += tls.client.ReadLn() + "|";
            }
        });
        EXPECT_NE(got.find(c.got), std::string::npos) << got;
        EXPECT_EQ(tls.client.Connected(), got.ends_with("|Read Timeout")) << "the socket";
    }
}

// The reader decrypting on its thread while the test's thread encrypts and sends, then closes:
// the close wakes the reader blocked in a read. (ThreadSanitizer's view of the handler's locks.)
TEST(TLS, ReadsSendsAndALocalCloseOnTwoThreads) {
    std::string flood;
    for (int i = 0; i < 2000; ++i) {
        flood += "PRIVMSG #c :line\r\n";
    }
    TLSPeer peer(Certs().Server, flood + "last\r\n");
    TLSClient tls("127.0.0.1", peer.Port());
    tls.client.SetReadTimeout(0); // without limit: only the close ends the last read
    tls.client.Connect();
    std::atomic<bool> readAll{false};
    std::string ended;
    std::thread reader([&] {
        ended = TestSupport::Raised<EIdException>([&] {
            while (tls.client.ReadLn() != "last") {
            }
            readAll = true;
            tls.client.ReadLn();
        });
    });
    for (int i = 0; i < 200; ++i) {
        tls.client.WriteLn("PRIVMSG #c :sent");
    }
    EXPECT_TRUE(TestSupport::WaitUntil([&] { return readAll.load(); }));
    tls.client.Disconnect();
    reader.join();
    EXPECT_NE(ended, "(nothing raised)");
}
