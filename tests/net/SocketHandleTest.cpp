// The socket handle and the socket I/O handler: binding in a port range, use without a
// socket, closing, resolving and connecting. Ports are found free or held at run time.
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "ProbeStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

// The socket handle reaches the stack through ActiveStack, which exists while a component
// does.
class SocketHandle : public ::testing::Test {
protected:
    void Prepare(int32_t AMin, int32_t AMax) {
        FHandle.AllocateSocket();
        FHandle.SetIP("127.0.0.1");
        FHandle.SetPort(0);
        FHandle.SetClientPortMin(AMin);
        FHandle.SetClientPortMax(AMax);
    }
    template <typename E> std::string BindRaises() {
        return Raised<E>([&] { FHandle.Bind(); });
    }

    TIdComponent FStackKeeper;
    TIdSocketHandle FHandle;
};

} // namespace

// Three consecutive ports form the range; `free` says which of them are let go before the
// bind. The handle must take the highest free one, trying from the maximum down.
TEST_F(SocketHandle, PortRangeTriesFromMaximumDownToMinimum) {
    const struct {
        const char* why;
        std::vector<bool> free; // min, min + 1, max
        int expectedOffset;     // -1: nothing binds
    } cases[] = {
        {"all free: the maximum first", {true, true, true}, 2},
        {"maximum taken: the next one down", {true, true, false}, 1},
        {"only the minimum free", {true, false, false}, 0},
        {"all in use", {false, false, false}, -1},
    };
    for (const auto& c : cases) {
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
        Prepare(min, max);
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
    Prepare(6000, 5000);
    EXPECT_EQ(BindRaises<EIdInvalidPortRange>(), "Invalid Port Range (6000 - 5000)");
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

// Closing frees the descriptor (a second close is harmless); allocating again or Reset
// closes a socket still held, so its port is free again.
TEST_F(SocketHandle, CloseAllocateAndResetFreeTheDescriptor) {
    FHandle.AllocateSocket();
    const TIdStackSocketHandle handle = FHandle.Handle();
    FHandle.CloseSocket();
    FHandle.CloseSocket();
    EXPECT_FALSE(DescriptorOpen(handle));
    for (bool reset : {false, true}) {
        Prepare(0, 0);
        FHandle.Bind();
        const auto port = uint16_t(FHandle.Port());
        reset ? FHandle.Reset(true) : FHandle.AllocateSocket();
        EXPECT_TRUE(RawSocket::Bound(port).Valid()) << "the port is still held";
    }
}

// The socket I/O handler against plain loopback peers.
namespace {

// Answers Connected as a check made just before a close on another thread did: connected.
struct LateCloseHandler : TIdIOHandlerSocket {
    bool Connected() override { return true; }
};

void Connect(TIdIOHandlerSocket& AHandler, const std::string& AHost, int32_t APort,
             int32_t ATimeout = Id::TimeoutDefault) {
    AHandler.Open();
    AHandler.ConnectClient(AHost, APort, "", 0, 0, 0, ATimeout);
}

} // namespace

// LOCALHOST in any case is a name (hsResolving) that resolves without a lookup; a dotted
// address is not resolved at all; any other name is looked up once.
TEST(IOHandlerSocket, ResolvingIsReportedForNamesOnlyAndLocalhostNeedsNoLookup) {
    ProbeStackScope probe;
    RawSocket listener = RawSocket::Listener();
    const std::string connecting = "Connecting to 127.0.0.1.";
    const struct {
        std::string host, statuses;
        int lookups;
    } cases[] = {{"localhost", "Resolving hostname localhost. " + connecting, 0},
                 {"LocalHost", "Resolving hostname LocalHost. " + connecting, 0},
                 {"127.0.0.1", connecting, 0},
                 {"irc.brisal.test", "Resolving hostname irc.brisal.test. " + connecting, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        TIdIOHandlerSocket handler;
        ProbeStack::Active()->FakeHosts["irc.brisal.test"] = "127.0.0.1";
        std::string statuses;
        handler.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
            statuses += (statuses.empty() ? "" : " ") + text;
        };
        Connect(handler, c.host, listener.LocalPort());
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(ProbeStack::Active()->Lookups.load(), c.lookups);
        EXPECT_TRUE(listener.Accept().Valid());
    }
}

TEST(IOHandlerClose, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    ProbeStackScope probe; // first: the handler's stack must be a ProbeStack
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    Connect(handler, "127.0.0.1", listener.LocalPort());
    RawSocket peer = listener.Accept();
    ProbeStack& stack = *ProbeStack::Active();
    const int fd = handler.Binding()->Handle();
    stack.RecvGate.Arm();
    auto reader = std::async(std::launch::async, [&] {
        char buffer[64];
        return handler.Recv(buffer, sizeof(buffer));
    });
    RawSocket closesFirst = std::move(peer); // a failure must not leave the reader in recv
    ASSERT_TRUE(stack.RecvGate.WaitEntered());
    handler.Close();
    EXPECT_FALSE(handler.Connected()) << "marked closed at once";
    ASSERT_TRUE(stack.RecvGate.WaitReturned()) << "the close did not wake the reader";
    EXPECT_TRUE(DescriptorOpen(fd)) << "closed while a call was still on it";
    RawSocket newcomer(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(newcomer.Fd(), fd) << "the number was reused under the reader";
    stack.RecvGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
}

// A Disconnect on the window's thread can close the socket between a reader's check that it is
// connected and its Recv or Send. That is this side's close and must raise what a close
// raises, not the socket error of a call on no descriptor ("Socket Error # 10009").
TEST(IOHandlerClose, ACallThatPassedTheCheckBeforeTheCloseRaisesDisconnected) {
    RawSocket listener = RawSocket::Listener();
    LateCloseHandler handler;
    char byte = 'x';
    for (bool send : {false, true}) {
        SCOPED_TRACE(send ? "Send" : "Recv");
        Connect(handler, "127.0.0.1", listener.LocalPort());
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        handler.Close();
        EXPECT_EQ(Raised<EIdClosedSocket>(
                      [&] { send ? handler.Send(&byte, 1) : handler.Recv(&byte, 1); }),
                  "Disconnected.");
    }
}
