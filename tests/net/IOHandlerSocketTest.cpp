// The socket I/O handler against plain loopback peers: resolving, binding, connecting with
// and without the connect thread, and use after a close.
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdStack.h"

#include "ProbeStack.h"
#include "RawSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <vector>

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
