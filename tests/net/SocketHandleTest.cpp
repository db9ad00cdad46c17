#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketHandle.h"
#include "IdStack.h"

#include "RawSocket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The socket handle reaches the stack through ActiveStack, which exists while a component
// does.
class SocketHandle : public ::testing::Test {
protected:
    TIdComponent FStackKeeper;
    TIdSocketHandle FHandle;
};

} // namespace

TEST_F(SocketHandle, FixedPortInUseCannotBind) {
    std::vector<RawSocket> held = HoldPortRun(1);
    ASSERT_EQ(held.size(), 1u);
    FHandle.AllocateSocket();
    FHandle.SetIP("127.0.0.1");
    FHandle.SetPort(held[0].LocalPort());
    try {
        FHandle.Bind();
        FAIL() << "bound to a port in use";
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
}

// Three consecutive ports form the range; `free` says which of them are let go before the
// bind. The handle must take the highest free one.
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
        {"minimum and maximum free: not the lowest", {true, false, true}, 2},
        {"only the middle free", {false, true, false}, 1},
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
        FHandle.AllocateSocket();
        FHandle.SetIP("127.0.0.1");
        FHandle.SetPort(0);
        FHandle.SetClientPortMin(min);
        FHandle.SetClientPortMax(max);
        if (c.expectedOffset < 0) {
            try {
                FHandle.Bind();
                FAIL() << "bound to port " << FHandle.Port();
            } catch (const EIdCanNotBindPortInRange& e) {
                EXPECT_EQ(std::string(e.what()), "Can not bind in port range (" +
                                                     std::to_string(min) + " - " +
                                                     std::to_string(max) + ")");
            }
        } else {
            FHandle.Bind();
            EXPECT_EQ(FHandle.Port(), min + c.expectedOffset);
            EXPECT_EQ(FHandle.IP(), "127.0.0.1");
        }
        FHandle.CloseSocket();
    }
}

TEST_F(SocketHandle, InvertedRangeIsRejectedBeforeAnyBind) {
    FHandle.AllocateSocket();
    FHandle.SetClientPortMin(6000);
    FHandle.SetClientPortMax(5000);
    try {
        FHandle.Bind();
        FAIL() << "bound with an inverted range";
    } catch (const EIdInvalidPortRange& e) {
        EXPECT_STREQ(e.what(), "Invalid Port Range (6000 - 5000)");
    }
}

// Only Port 0 with both ends set selects the range; otherwise one plain bind happens.
TEST_F(SocketHandle, RangeIsIgnoredUnlessPortIsZeroAndBothEndsAreSet) {
    std::vector<RawSocket> held = HoldPortRun(3); // the range, all taken
    ASSERT_EQ(held.size(), 3u);
    const int32_t min = held[0].LocalPort();
    const int32_t max = held[2].LocalPort();
    const int32_t freePort = FreeLoopbackPort();
    ASSERT_NE(freePort, 0);

    struct Case {
        const char* why;
        int32_t port, rangeMin, rangeMax;
    };
    const Case cases[] = {
        {"a fixed port wins over the range", freePort, min, max},
        {"no minimum: any port", 0, 0, max},
        {"no maximum: any port", 0, min, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FHandle.AllocateSocket();
        FHandle.SetIP("127.0.0.1");
        FHandle.SetPort(c.port);
        FHandle.SetClientPortMin(c.rangeMin);
        FHandle.SetClientPortMax(c.rangeMax);
        FHandle.Bind();
        if (c.port != 0) {
            EXPECT_EQ(FHandle.Port(), c.port);
        } else {
            EXPECT_NE(FHandle.Port(), 0);
        }
        EXPECT_TRUE(FHandle.Port() < min || FHandle.Port() > max) << FHandle.Port();
        FHandle.CloseSocket();
    }
}

TEST_F(SocketHandle, ReadableWithoutSocketRaisesClosedGracefully) {
    auto expectClosed = [this] {
        try {
            FHandle.Readable(0);
            FAIL() << "Readable on a handle without a socket";
        } catch (const EIdConnClosedGracefully& e) {
            EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
        }
    };
    {
        SCOPED_TRACE("never allocated");
        expectClosed();
    }
    FHandle.AllocateSocket();
    FHandle.Readable(0); // holds a socket: answers without raising
    FHandle.CloseSocket();
    {
        SCOPED_TRACE("after CloseSocket");
        expectClosed();
    }
}

// Without a socket, reads and writes fail like calls on a closed descriptor: -1 with the
// bad-descriptor code on the calling thread, never a call on a stale descriptor number.
TEST_F(SocketHandle, RecvAndSendWithoutSocketFailAsOnAClosedDescriptor) {
    FHandle.AllocateSocket();
    FHandle.CloseSocket();
    char byte = 'x';
    TIdStack& stack = *ActiveStack();
    EXPECT_EQ(FHandle.Recv(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
    EXPECT_EQ(FHandle.Send(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10009);
}

TEST_F(SocketHandle, CloseSocketKeepsTheNumberButFreesTheDescriptor) {
    FHandle.AllocateSocket();
    const TIdStackSocketHandle handle = FHandle.Handle();
    ASSERT_NE(handle, Id_INVALID_SOCKET);
    EXPECT_TRUE(FHandle.HandleAllocated());
    EXPECT_TRUE(DescriptorOpen(handle));

    FHandle.CloseSocket();
    EXPECT_FALSE(FHandle.HandleAllocated());
    EXPECT_EQ(FHandle.Handle(), handle);
    EXPECT_FALSE(DescriptorOpen(handle));
    FHandle.CloseSocket(); // a second close is harmless
}

TEST_F(SocketHandle, AllocatingAgainClosesThePreviousSocket) {
    // The first socket holds a port; the port is free again once that socket is closed.
    FHandle.AllocateSocket();
    FHandle.SetIP("127.0.0.1");
    FHandle.Bind();
    const int32_t firstPort = FHandle.Port();
    ASSERT_NE(firstPort, 0);
    FHandle.AllocateSocket();
    EXPECT_TRUE(FHandle.HandleAllocated());
    EXPECT_TRUE(RawSocket::Bound(static_cast<uint16_t>(firstPort)).Valid());
}

TEST_F(SocketHandle, ConnectFillsLocalAndPeerAddresses) {
    RawSocket listener = RawSocket::Listener();
    ASSERT_TRUE(listener.Valid());
    FHandle.AllocateSocket();
    FHandle.Bind(); // any address, any port
    FHandle.SetPeer("127.0.0.1", listener.LocalPort());
    ASSERT_EQ(FHandle.Connect(Id_PF_INET), 0);
    EXPECT_EQ(FHandle.PeerIP(), "127.0.0.1");
    EXPECT_EQ(FHandle.PeerPort(), listener.LocalPort());
    EXPECT_EQ(FHandle.IP(), "127.0.0.1");
    EXPECT_NE(FHandle.Port(), 0);
    RawSocket accepted = listener.Accept();
    ASSERT_TRUE(accepted.Valid());

    TIdSocketHandle copy;
    copy.Assign(FHandle);
    EXPECT_EQ(copy.IP(), FHandle.IP());
    EXPECT_EQ(copy.Port(), FHandle.Port());
    EXPECT_EQ(copy.PeerIP(), FHandle.PeerIP());
    EXPECT_EQ(copy.PeerPort(), FHandle.PeerPort());
    EXPECT_FALSE(copy.HandleAllocated()) << "Assign copies addresses, not the socket";

    const TIdStackSocketHandle handle = FHandle.Handle();
    FHandle.Reset(false);
    EXPECT_EQ(FHandle.Handle(), Id_INVALID_SOCKET);
    EXPECT_FALSE(FHandle.HandleAllocated());
    EXPECT_FALSE(DescriptorOpen(handle)) << "a socket still held is closed, not leaked";
    EXPECT_EQ(FHandle.IP(), "127.0.0.1") << "the local side is kept without AResetLocal";
    EXPECT_TRUE(FHandle.PeerIP().empty());
    EXPECT_EQ(FHandle.PeerPort(), 0);
    FHandle.Reset(true);
    EXPECT_TRUE(FHandle.IP().empty());
    EXPECT_EQ(FHandle.Port(), 0);
}
