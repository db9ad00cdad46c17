// A connection's numeric-reply commands, streams and files, against the loopback server.
#include "IdException.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "TempDir.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

using TestSupport::Raised;

namespace {

void ConnectTo(TIdTCPClient& AClient, const LoopbackServer& AServer) {
    AClient.SetHost(LoopbackServer::Host());
    AClient.SetPort(AServer.Port());
    AClient.Connect();
}

// What the server received once the client has done AAction and closed.
std::string SentBy(const std::function<void(TIdTCPClient&)>& AAction) {
    LoopbackServer server;
    TIdTCPClient client;
    client.SetSendBufferSize(100000); // blocks that do not divide the data evenly
    ConnectTo(client, server);
    AAction(client);
    client.Disconnect();
    EXPECT_TRUE(server.WaitForClientClose(TestSupport::HangLimit));
    return server.Received();
}

} // namespace

// Commands read a whole continued reply; an allowed code returns, another raises with the code
// and text (in the caller's class, too) and leaves the connection at the next reply.
TEST(ConnectionTransfer, CommandsReadContinuedRepliesAndCheckTheirCodes) {
    LoopbackServer server;
    server.WaitFor("HELP\r\n").Send("214-First\r\n214-Second\r\n214 end\r\n");
    server.WaitFor("STOR x\r\n").Send("550-No room\r\n550 Try later\r\n");
    server.WaitFor("NOOP\r\n").Send("250 ok\r\n");
    TIdTCPClient client;
    ConnectTo(client, server);
    EXPECT_EQ(client.SendCommand("HELP", {200, 214}), 214);
    EXPECT_EQ(client.LastReply()->Text(), (std::vector<std::string>{"First", "Second", "end"}));
    try {
        client.SendCommand("STOR x", {226});
        ADD_FAILURE() << "no exception";
    } catch (const EIdProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyErrorCode(), 550);
        EXPECT_STREQ(e.what(), "No room\r\nTry later\r\n");
    }
    EXPECT_EQ(Raised<EIdNotConnected>([&] { client.RaiseReplyError(RaiseAs<EIdNotConnected>); }),
              "No room\r\nTry later\r\n");
    EXPECT_EQ(client.SendCommand("NOOP"), 250);
}

// Megabytes arrive byte for byte, from where each case says, with their count first when
// asked; a stream shorter than its size raises after sending what it had; so do files.
TEST(ConnectionTransfer, StreamsAndFilesArriveByteForByte) {
    std::string data(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = char(i * 7 + i / 251); // no shifted piece matches by chance
    }
    const uint32_t n = uint32_t(data.size());
    const std::string count{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    const struct {
        const char* why;
        bool fromStart, writeCount;
        int32_t size;
        std::string expected, error;
    } cases[] = {
        {"all of it, count first", true, true, 0, count + data, "(nothing raised)"},
        {"from the position to the end", false, false, 0, data.substr(1000), "(nothing raised)"},
        {"a size from the position", false, false, 2000001, data.substr(1000, 2000001),
         "(nothing raised)"},
        {"a size beyond the end", false, false, int32_t(n), data.substr(1000), "No data to read."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string error;
        const std::string received = SentBy([&](TIdTCPClient& AClient) {
            std::istringstream stream(data);
            stream.seekg(1000);
            error = Raised<EIdNoDataToRead>(
                [&] { AClient.WriteStream(stream, c.fromStart, c.writeCount, c.size); });
        });
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(received.size(), c.expected.size());
        EXPECT_TRUE(received == c.expected);
    }

    TempDir dir;
    dir.WriteFile("big.bin", data);
    int64_t sent = 0;
    EXPECT_TRUE(SentBy([&](TIdTCPClient& AClient) {
                    sent = AClient.WriteFile((dir.Path() / "big.bin").string(), true);
                }) == data);
    EXPECT_EQ(sent, int64_t(n));
    const std::string missing = (dir.Path() / "missing.bin").string();
    EXPECT_EQ(SentBy([&](TIdTCPClient& AClient) {
                  EXPECT_EQ(Raised<EIdFileNotFound>([&] { AClient.WriteFile(missing); }),
                            "File \"" + missing + "\" not found");
              }),
              "");
}
