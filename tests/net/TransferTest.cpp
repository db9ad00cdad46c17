// A connection's streams, against the loopback server.
#include "IdException.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using TestSupport::Raised;

// Megabytes arrive byte for byte, from where each case says, with their count first when asked;
// a stream shorter than its size raises after sending what it had.
TEST(ConnectionTransfer, Streams) {
    std::string data(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = char(i * 7 + i / 251); // no shifted piece matches by chance
    }
    const uint32_t n = uint32_t(data.size());
    const std::string count{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    std::istringstream stream(data);
    const struct {
        const char* why;
        bool fromStart, writeCount;
        int32_t size;
        std::string expected, error;
    } cases[] = {
        {"all of it, count first", true, true, 0, count + data, "(nothing raised)"},
        {"a size from the position", false, false, 2000001, data.substr(1000, 2000001),
         "(nothing raised)"},
        {"a size beyond the end", false, false, int32_t(n), data.substr(1000), "No data to read."},
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
        EXPECT_EQ(Raised<EIdException>(
                      [&] { sender.WriteStream(stream, c.fromStart, c.writeCount, c.size); }),
                  c.error);
        sender.Disconnect();
        EXPECT_TRUE(receiver.WaitForClientClose(TestSupport::HangLimit));
        EXPECT_EQ(receiver.Received().size(), c.expected.size());
        EXPECT_TRUE(receiver.Received() == c.expected);
    }
}
