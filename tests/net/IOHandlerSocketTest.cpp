#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdStack.h"

#include "ProbeStack.h"
#include "RawSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const RefusedText = "Socket Error # 10061\r\nConnection refused.";

struct StatusLog {
    std::vector<std::string> texts;
    std::vector<TIdComponent*> senders;
    void Attach(TIdComponent& AComponent) {
        AComponent.OnStatus = [this](TIdComponent* ASender, TIdStatus, const std::string& AText) {
            texts.push_back(AText);
            senders.push_back(ASender);
        };
    }
};

void Connect(TIdIOHandlerSocket& AHandler, const std::string& AHost, int32_t APort,
             int32_t ATimeout = Id::TimeoutDefault) {
    AHandler.Open();
    AHandler.ConnectClient(AHost, APort, "", 0, 0, 0, ATimeout);
}

long ElapsedMs(Clock::time_point AStart) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count());
}

} // namespace

// LOCALHOST in any case is a name (hsResolving) that resolves without a lookup; a dotted
// address is not resolved at all; any other name is looked up once.
TEST(IOHandlerSocket, ResolvingIsReportedForNamesOnlyAndLocalhostNeedsNoLookup) {
    ProbeStackScope probe;
    RawSocket listener = RawSocket::Listener();
    ASSERT_TRUE(listener.Valid());
    const int32_t port = listener.LocalPort();

    struct Case {
        const char* why;
        std::string host;
        std::vector<std::string> statuses;
        int lookups;
    };
    const Case cases[] = {
        {"lower-case localhost",
         "localhost",
         {"Resolving hostname localhost.", "Connecting to 127.0.0.1."},
         0},
        {"mixed-case localhost",
         "LocalHost",
         {"Resolving hostname LocalHost.", "Connecting to 127.0.0.1."},
         0},
        {"dotted address", "127.0.0.1", {"Connecting to 127.0.0.1."}, 0},
        {"a name",
         "irc.brisal.test",
         {"Resolving hostname irc.brisal.test.", "Connecting to 127.0.0.1."},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TIdIOHandlerSocket handler;
        ProbeStack* stack = ProbeStack::Active();
        ASSERT_NE(stack, nullptr);
        stack->FakeHosts["irc.brisal.test"] = "127.0.0.1";
        StatusLog log;
        log.Attach(handler);

        Connect(handler, c.host, port);
        EXPECT_TRUE(handler.Connected());
        EXPECT_EQ(log.texts, c.statuses);
        for (TIdComponent* sender : log.senders) {
            EXPECT_EQ(sender, &handler);
        }
        EXPECT_EQ(stack->Lookups.load(), c.lookups);
        EXPECT_EQ(handler.Binding()->PeerIP(), "127.0.0.1");
        EXPECT_EQ(handler.Binding()->PeerPort(), port);
        RawSocket accepted = listener.Accept();
        EXPECT_TRUE(accepted.Valid());
    }
}

// The peer accepts and resets before the connect has asked for the peer's name: the connect
// still stands, and the reset comes out of the first read.
TEST(IOHandlerSocket, PeerResettingRightAfterTheConnectIsReportedByTheFirstRead) {
    ProbeStackScope probe;
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    ProbeStack* stack = ProbeStack::Active();
    ASSERT_NE(stack, nullptr);
    bool resetArrived = false;
    stack->AfterConnect = [&](TIdStackSocketHandle AFd) {
        RawSocket accepted = listener.Accept();
        const linger abort{1, 0};
        ::setsockopt(accepted.Fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
        accepted.Close();
        pollfd wait{AFd, POLLIN, 0};
        resetArrived = ::poll(&wait, 1, 5000) == 1;
    };
    Connect(handler, "127.0.0.1", listener.LocalPort());
    ASSERT_TRUE(resetArrived);
    EXPECT_TRUE(handler.Connected());
    EXPECT_EQ(handler.Binding()->PeerIP(), "127.0.0.1");
    EXPECT_EQ(handler.Binding()->PeerPort(), listener.LocalPort());
    char byte = 0;
    EXPECT_EQ(handler.Recv(&byte, 1), -1);
    EXPECT_EQ(stack->LastSocketError(), 10054);
}

TEST(IOHandlerSocket, BoundPortIsTheSourcePortThePeerSees) {
    RawSocket listener = RawSocket::Listener();
    const int32_t boundPort = FreeLoopbackPort();
    ASSERT_NE(boundPort, 0);
    TIdIOHandlerSocket handler;
    handler.Open();
    handler.ConnectClient("127.0.0.1", listener.LocalPort(), "127.0.0.1", boundPort, 0, 0,
                          Id::TimeoutDefault);
    EXPECT_EQ(handler.Binding()->Port(), boundPort);
    EXPECT_EQ(handler.Binding()->IP(), "127.0.0.1");

    RawSocket accepted = listener.Accept();
    ASSERT_TRUE(accepted.Valid());
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(::getpeername(accepted.Fd(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), boundPort);
}

TEST(IOHandlerSocket, NagleIsSwitchedOffOnlyWhenAsked) {
    RawSocket listener = RawSocket::Listener();
    for (bool useNagle : {true, false}) {
        SCOPED_TRACE(useNagle ? "UseNagle true" : "UseNagle false");
        TIdIOHandlerSocket handler;
        EXPECT_TRUE(handler.UseNagle()) << "the default";
        handler.SetUseNagle(useNagle);
        Connect(handler, "127.0.0.1", listener.LocalPort());
        int noDelay = -1;
        socklen_t length = sizeof(noDelay);
        ASSERT_EQ(
            ::getsockopt(handler.Binding()->Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length),
            0);
        EXPECT_EQ(noDelay != 0, !useNagle);
        RawSocket accepted = listener.Accept();
    }
}

TEST(IOHandlerSocket, RefusedConnectRaisesTheSocketErrorWithAndWithoutTimeout) {
    const int32_t closedPort = FreeLoopbackPort();
    ASSERT_NE(closedPort, 0);
    {
        SCOPED_TRACE("blocking connect on the calling thread");
        TIdIOHandlerSocket handler;
        try {
            Connect(handler, "127.0.0.1", closedPort);
            FAIL() << "connected to a closed port";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), 10061);
            EXPECT_STREQ(e.what(), RefusedText);
        }
    }
    {
        SCOPED_TRACE("connect thread: the worker's error text, as EIdConnectException");
        TIdIOHandlerSocket handler;
        const auto start = Clock::now();
        try {
            Connect(handler, "127.0.0.1", closedPort, 5000);
            FAIL() << "connected to a closed port";
        } catch (const EIdSocketError&) {
            FAIL() << "the worker's error must arrive as EIdConnectException";
        } catch (const EIdConnectException& e) {
            EXPECT_STREQ(e.what(), RefusedText);
        }
        EXPECT_LT(ElapsedMs(start), 4000) << "the refusal was not noticed by polling";
    }
}

TEST(IOHandlerSocket, ConnectWithTimeoutSucceedsWhenThePeerAccepts) {
    RawSocket listener = RawSocket::Listener();
    // Below one poll step (a single sleep, then the check), several steps, and no limit.
    for (int32_t timeout : {124, 3000, Id::TimeoutInfinite}) {
        SCOPED_TRACE(timeout);
        TIdIOHandlerSocket handler;
        Connect(handler, "127.0.0.1", listener.LocalPort(), timeout);
        EXPECT_TRUE(handler.Connected());
        EXPECT_EQ(handler.Binding()->PeerPort(), listener.LocalPort());
        EXPECT_NE(handler.Binding()->Port(), 0) << "the worker's refresh reached this thread";
        RawSocket accepted = listener.Accept();
        ASSERT_TRUE(accepted.Valid());
        const char ping = 'p';
        ASSERT_EQ(::send(accepted.Fd(), &ping, 1, 0), 1);
        char got = 0;
        EXPECT_TRUE(handler.Readable(5000));
        EXPECT_EQ(handler.Recv(&got, 1), 1);
        EXPECT_EQ(got, ping);
    }
}

// A listener whose accept queue is full drops further SYNs, so a connect to it hangs until
// the time-out closes the socket under the worker.
TEST(IOHandlerSocket, ConnectToAFullAcceptQueueTimesOut) {
    RawSocket listener = RawSocket::Listener(0);
    ASSERT_TRUE(listener.Valid());
    std::vector<RawSocket> fillers = FillAcceptQueue(listener.LocalPort());
    ASSERT_FALSE(fillers.empty()) << "the accept queue never filled";

    for (int32_t timeout : {100, 400}) {
        SCOPED_TRACE(timeout);
        TIdIOHandlerSocket handler;
        const auto start = Clock::now();
        try {
            Connect(handler, "127.0.0.1", listener.LocalPort(), timeout);
            FAIL() << "connected through a full accept queue";
        } catch (const EIdConnectTimeout& e) {
            EXPECT_STREQ(e.what(), "Connect timed out.");
        }
        const long elapsed = ElapsedMs(start);
        EXPECT_GE(elapsed, timeout);
        EXPECT_LT(elapsed, 5000) << "the worker was not released by the close";
        EXPECT_FALSE(handler.Connected());
    }
}

TEST(IOHandlerSocket, RecvAndSendWhenNotConnectedRaiseDisconnected) {
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    char byte = 'x';
    auto expectDisconnected = [&] {
        EXPECT_FALSE(handler.Connected());
        for (int i = 0; i < 2; ++i) {
            try {
                i == 0 ? handler.Recv(&byte, 1) : handler.Send(&byte, 1);
                ADD_FAILURE() << (i == 0 ? "Recv" : "Send") << " on a closed handler";
            } catch (const EIdClosedSocket& e) {
                EXPECT_STREQ(e.what(), "Disconnected.");
            }
        }
    };
    {
        SCOPED_TRACE("never opened");
        expectDisconnected();
        EXPECT_THROW(handler.Readable(0), EIdConnClosedGracefully);
    }
    Connect(handler, "127.0.0.1", listener.LocalPort());
    EXPECT_EQ(handler.Send(&byte, 1), 1);
    handler.Close();
    {
        SCOPED_TRACE("after Close");
        expectDisconnected();
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
    EXPECT_TRUE(binding->IP().empty());
    EXPECT_EQ(binding->Port(), 0);
    EXPECT_TRUE(binding->PeerIP().empty());
}
