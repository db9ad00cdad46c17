// Binding (fixed port and port range), use without a socket, and closing of the socket
// handle. Ports are found free or held at run time.
#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketHandle.h"
#include "IdStack.h"

#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// The socket handle reaches the stack through ActiveStack, which exists while a component
// does.
class SocketHandle : public ::testing::Test {
protected:
    void Prepare(int32_t APort, int32_t AMin, int32_t AMax) {
        FHandle.AllocateSocket();
        FHandle.SetIP("127.0.0.1");
        FHandle.SetPort(APort);
        FHandle.SetClientPortMin(AMin);
        FHandle.SetClientPortMax(AMax);
    }
    template <typename E> std::string BindRaises() {
        return TestSupport::Raised<E>([&] { FHandle.Bind(); });
    }

    TIdComponent FStackKeeper;
    TIdSocketHandle FHandle;
};

} // namespace

// Three consecutive ports form the range; `free` says which of them are let go before the
// bind. The handle must take the highest free one, trying from the maximum down.
TEST_F(SocketHandle, PortRangeTriesFromMaximumDownToMinimum) {
    struct Case {
        const char* why;
        std::vector<bool> free; // min, min + 1, max
        int expectedOffset;     // -1: nothing binds
    };
    const Case cases[] = {
        {"all free: the maximum first", {true, true, true}, 2},
        {"maximum taken: the next one down", {true, true, false}, 1},
        {"only the minimum free", {true, false, false}, 0},
        {"all in use", {false, false, false}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<RawSocket> held = HoldPortRun(3);
        ASSERT_EQ(held.size(), 3u);
        const int32_t min = held[0].LocalPort();
        const int32_t max = held[2].LocalPort();
        for (size_t i = 0; i < 3; ++i) {
            if (c.free[i]) {
                held[i].Close();
            }
        }
        Prepare(0, min, max);
        if (c.expectedOffset < 0) {
            EXPECT_EQ(BindRaises<EIdCanNotBindPortInRange>(), "Can not bind in port range (" +
                                                                  std::to_string(min) + " - " +
                                                                  std::to_string(max) + ")");
        } else {
            FHandle.Bind();
            EXPECT_EQ(FHandle.Port(), min + c.expectedOffset);
        }
        FHandle.CloseSocket();
    }
    // The other order: an inverted range is rejected before any bind.
    Prepare(0, 6000, 5000);
    EXPECT_EQ(BindRaises<EIdInvalidPortRange>(), "Invalid Port Range (6000 - 5000)");
}

// Without both ends of the range set, Port is bound once: 0 as any port outside the (taken)
// range, a port in use as the fixed-port error.
TEST_F(SocketHandle, RangeWithAnEndUnsetIsIgnored) {
    std::vector<RawSocket> held = HoldPortRun(3);
    ASSERT_EQ(held.size(), 3u);
    const int32_t min = held[0].LocalPort();
    const int32_t max = held[2].LocalPort();
    for (auto [rangeMin, rangeMax] : {std::pair{0, max}, std::pair{min, 0}}) {
        SCOPED_TRACE(testing::Message() << rangeMin << " - " << rangeMax);
        Prepare(0, rangeMin, rangeMax);
        FHandle.Bind();
        EXPECT_TRUE(FHandle.Port() < min || FHandle.Port() > max) << FHandle.Port();
        FHandle.CloseSocket();
    }
    Prepare(min, 0, max);
    EXPECT_EQ(BindRaises<EIdCouldNotBindSocket>(),
              "Could not bind socket. Address and port are already in use.");
}

// Without a socket, Readable raises and reads and writes fail like calls on a closed
// descriptor (10009), never a call on a stale descriptor number: here the old number is
// given to a connected socket whose peer has sent a byte, which must stay unread.
TEST_F(SocketHandle, UseWithoutSocketFailsAsOnAClosedDescriptor) {
    FHandle.AllocateSocket();
    const int fd = FHandle.Handle();
    FHandle.Readable(0); // holds a socket: answers without raising
    FHandle.CloseSocket();
    EXPECT_THROW(FHandle.Readable(0), EIdConnClosedGracefully);
    RawSocket listener = RawSocket::Listener();
    RawSocket peer = RawSocket::Connected(listener.LocalPort());
    RawSocket newcomer = listener.Accept();
    ASSERT_EQ(::dup2(newcomer.Fd(), fd), fd);
    RawSocket reused(fd);
    ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1);
    char byte = 0;
    TIdStack& stack = *ActiveStack();
    EXPECT_EQ(FHandle.Recv(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    EXPECT_EQ(FHandle.Send(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    pollfd wait{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 1) << "the byte was taken by the closed handle";
}

TEST_F(SocketHandle, CloseAllocateAndResetFreeTheDescriptor) {
    FHandle.AllocateSocket();
    TIdStackSocketHandle handle = FHandle.Handle();
    ASSERT_TRUE(DescriptorOpen(handle));
    FHandle.CloseSocket();
    EXPECT_FALSE(FHandle.HandleAllocated());
    EXPECT_EQ(FHandle.Handle(), handle) << "the number is kept";
    EXPECT_FALSE(DescriptorOpen(handle));
    FHandle.CloseSocket(); // a second close is harmless

    // Allocating again closes the previous socket: the port it held is free again.
    FHandle.AllocateSocket();
    FHandle.SetIP("127.0.0.1");
    FHandle.Bind();
    const int32_t firstPort = FHandle.Port();
    ASSERT_NE(firstPort, 0);
    FHandle.AllocateSocket();
    EXPECT_TRUE(RawSocket::Bound(uint16_t(firstPort)).Valid());

    // Reset closes a socket still held and clears the peer, the local side only when asked.
    FHandle.SetPort(0);
    FHandle.Bind();
    FHandle.SetPeer("127.0.0.1", 1);
    handle = FHandle.Handle();
    FHandle.Reset(false);
    EXPECT_TRUE(FHandle.PeerIP().empty());
    EXPECT_EQ(FHandle.Handle(), Id_INVALID_SOCKET);
    EXPECT_FALSE(DescriptorOpen(handle));
    EXPECT_EQ(FHandle.IP(), "127.0.0.1");
    FHandle.Reset(true);
    EXPECT_TRUE(FHandle.IP().empty());
    EXPECT_EQ(FHandle.Port(), 0);
}
