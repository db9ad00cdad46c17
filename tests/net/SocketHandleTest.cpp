// Binding (fixed port and port range), use without a socket, and closing of the socket
// handle. Ports are found free or held at run time.
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
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

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

// The socket I/O handler against plain loopback peers: resolving, binding, connecting with
// and without the connect thread, and use after a close.
namespace {

using TestSupport::Raised;

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
    const int32_t port = listener.LocalPort();
    struct Case {
        std::string host;
        bool resolving;
        int lookups;
    };
    const Case cases[] = {{"localhost", true, 0},
                          {"LocalHost", true, 0},
                          {"127.0.0.1", false, 0},
                          {"irc.brisal.test", true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TIdIOHandlerSocket handler;
        ProbeStack* stack = ProbeStack::Active();
        ASSERT_NE(stack, nullptr);
        stack->FakeHosts["irc.brisal.test"] = "127.0.0.1";
        std::vector<std::string> statuses;
        handler.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
            EXPECT_EQ(sender, &handler);
            statuses.push_back(text);
        };
        Connect(handler, c.host, port);
        std::vector<std::string> expected = {"Connecting to 127.0.0.1."};
        if (c.resolving) {
            expected.insert(expected.begin(), "Resolving hostname " + c.host + ".");
        }
        EXPECT_EQ(statuses, expected);
        EXPECT_EQ(stack->Lookups.load(), c.lookups);
        EXPECT_EQ(handler.Binding()->PeerPort(), port);
        EXPECT_TRUE(listener.Accept().Valid());
    }
}

// Only bound port 0 selects the range: a fixed port binds even with every port of the range
// taken, and is the source port the peer sees.
TEST(IOHandlerSocket, AFixedBoundPortIgnoresTheRangeAndIsTheSourcePort) {
    RawSocket listener = RawSocket::Listener();
    std::vector<RawSocket> range = HoldPortRun(2);
    ASSERT_EQ(range.size(), 2u);
    const int32_t boundPort = FreeLoopbackPort();
    TIdIOHandlerSocket handler;
    handler.Open();
    handler.ConnectClient("127.0.0.1", listener.LocalPort(), "127.0.0.1", boundPort,
                          range[0].LocalPort(), range[1].LocalPort(), Id::TimeoutDefault);
    EXPECT_EQ(handler.Binding()->Port(), boundPort);
    RawSocket accepted = listener.Accept();
    ASSERT_TRUE(accepted.Valid());
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(::getpeername(accepted.Fd(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), boundPort);
}

// Through the connect thread a refusal (10061 on the calling thread, as the client's tests
// show) is the worker's text carried by EIdConnectException.
TEST(IOHandlerSocket, RefusedConnectThroughTheConnectThreadRaisesTheWorkersError) {
    TIdIOHandlerSocket handler;
    EXPECT_EQ(Raised<EIdConnectException>(
                  [&] { Connect(handler, "127.0.0.1", FreeLoopbackPort(), 5000); }),
              "Socket Error # 10061\r\nConnection refused.");
}

TEST(IOHandlerSocket, ConnectWithTimeoutSucceedsWhenThePeerAccepts) {
    RawSocket listener = RawSocket::Listener();
    // Below one poll step (a single sleep, then the check), and no limit.
    for (int32_t timeout : {124, Id::TimeoutInfinite}) {
        SCOPED_TRACE(timeout);
        TIdIOHandlerSocket handler;
        Connect(handler, "127.0.0.1", listener.LocalPort(), timeout);
        EXPECT_NE(handler.Binding()->Port(), 0) << "the worker's refresh reached this thread";
        RawSocket accepted = listener.Accept();
        char byte = 'p';
        EXPECT_EQ(handler.Send(&byte, 1), 1);
        EXPECT_EQ(::recv(accepted.Fd(), &byte, 1, 0), 1);
    }
}

// A listener whose accept queue is full drops further SYNs, so a connect to it hangs until
// the time-out closes the socket under the worker.
TEST(IOHandlerSocket, ConnectToAFullAcceptQueueTimesOut) {
    RawSocket listener = RawSocket::Listener(0);
    std::vector<RawSocket> fillers = FillAcceptQueue(listener.LocalPort());
    ASSERT_FALSE(fillers.empty()) << "the accept queue never filled";
    TIdIOHandlerSocket handler;
    EXPECT_EQ(Raised<EIdConnectTimeout>(
                  [&] { Connect(handler, "127.0.0.1", listener.LocalPort(), 200); }),
              "Connect timed out.");
    EXPECT_FALSE(handler.Connected());
}

TEST(IOHandlerSocket, RecvAndSendWhenNotConnectedRaiseDisconnected) {
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    char byte = 'x';
    for (const char* when : {"never opened", "after Close"}) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(handler.Connected());
        EXPECT_EQ(Raised<EIdClosedSocket>([&] { handler.Recv(&byte, 1); }), "Disconnected.");
        EXPECT_THROW(handler.Send(&byte, 1), EIdClosedSocket);
        EXPECT_THROW(handler.Readable(0), EIdConnClosedGracefully);
        Connect(handler, "127.0.0.1", listener.LocalPort());
        EXPECT_EQ(handler.Send(&byte, 1), 1);
        handler.Close();
    }
}

TEST(IOHandlerSocket, OpenAgainResetsAddressesAndClosesAForgottenSocket) {
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    Connect(handler, "127.0.0.1", listener.LocalPort());
    TIdSocketHandle* binding = handler.Binding();
    const TIdStackSocketHandle handle = binding->Handle();
    handler.Open();
    EXPECT_EQ(handler.Binding(), binding) << "the binding is reused";
    EXPECT_FALSE(handler.Connected());
    EXPECT_FALSE(DescriptorOpen(handle));
    EXPECT_EQ(binding->Port(), 0);
    EXPECT_TRUE(binding->PeerIP().empty());
}

// A reader thread inside the handler's Recv while another thread closes it: the descriptor
// number must stay taken until the reader has left.
// The reader is held inside the stack's Recv after the close woke it: the descriptor must
// still be open and its number must not be handed to a new socket until the reader leaves.
TEST(IOHandlerClose, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    ProbeStackScope probe; // first: the handler's stack must be a ProbeStack
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    handler.Open();
    handler.ConnectClient("127.0.0.1", listener.LocalPort(), "", 0, 0, 0, Id::TimeoutDefault);
    RawSocket peer = listener.Accept();
    ProbeStack& stack = *ProbeStack::Active();
    const int fd = handler.Binding()->Handle();
    stack.RecvGate.Arm();
    auto reader = std::async(std::launch::async, [&] {
        char buffer[64];
        return handler.Recv(buffer, sizeof(buffer));
    });
    struct Unblock { // a failed assertion must not leave the future waiting for ever
        ProbeStack& stack;
        RawSocket& peer;
        ~Unblock() {
            stack.RecvGate.Release();
            peer.Close();
        }
    } unblock{stack, peer};
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
