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

// Commands read a whole continued reply; an allowed code returns, another raises with its
// text. Megabytes arrive byte for byte, from where each case says, with their count first when
// asked; a stream shorter than its size raises after sending what it had; a missing file is
// named.
TEST(ConnectionTransfer, CommandsStreamsAndFiles) {
    LoopbackServer server;
    server.WaitFor("HELP\r\n").Send("214-First\r\n214-Second\r\n214 end\r\n");
    server.WaitFor("STOR x\r\n").Send("550-No room\r\n550 Try later\r\n");
    TIdTCPClient client;
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    client.Connect();
    EXPECT_EQ(client.SendCommand("HELP", {200, 214}), 214);
    EXPECT_EQ(client.LastReply()->Text(), (std::vector<std::string>{"First", "Second", "end"}));
    EXPECT_EQ(Raised<EIdProtocolReplyError>([&] { client.SendCommand("STOR x", {226}); }),
              "No room\r\nTry later\r\n");
    EXPECT_EQ(client.LastReply()->NumericCode(), 550);
    client.Disconnect();

    std::string data(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = char(i * 7 + i / 251); // no shifted piece matches by chance
    }
    const uint32_t n = uint32_t(data.size());
    const std::string count{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    TempDir dir;
    dir.WriteFile("big.bin", data);
    const std::string file = (dir.Path() / "big.bin").string(),
                      missing = (dir.Path() / "missing.bin").string(), fine = "(nothing raised)";
    std::istringstream stream(data);
    const struct {
        const char* why;
        std::function<void(TIdTCPClient&)> send;
        std::string expected, error;
    } cases[] = {
        {"all of it, count first", [&](TIdTCPClient& c) { c.WriteStream(stream, true, true, 0); },
         count + data, fine},
        {"a size from the position",
         [&](TIdTCPClient& c) { c.WriteStream(stream, false, false, 2000001); },
         data.substr(1000, 2000001), fine},
        {"a size beyond the end", [&](TIdTCPClient& c) { c.WriteStream(stream, false, false, n); },
         data.substr(1000), "No data to read."},
        {"a file", [&](TIdTCPClient& c) { EXPECT_EQ(c.WriteFile(file), int64_t(n)); }, data, fine},
        {"a missing file", [&](TIdTCPClient& c) { c.WriteFile(missing); }, "",
         "File \"" + missing + "\" not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        stream.clear();
        stream.seekg(1000);
        LoopbackServer receiver;
        TIdTCPClient sender;
        sender.SetSendBufferSize(100000); // blocks that do not divide the data evenly
        sender.SetHost(LoopbackServer::Host());
        sender.SetPort(receiver.Port());
        sender.Connect();
        EXPECT_EQ(Raised<EIdException>([&] { c.send(sender); }), c.error);
        sender.Disconnect();
        EXPECT_TRUE(receiver.WaitForClientClose(TestSupport::HangLimit));
        EXPECT_EQ(receiver.Received().size(), c.expected.size());
        EXPECT_TRUE(receiver.Received() == c.expected);
    }
}
