#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

class StackTest : public ::testing::Test {
protected:
    TIdComponent FHolder; // keeps ActiveStack alive
    TIdStack& Stack = *ActiveStack();

    // A listening TCP socket on 127.0.0.1 with a port the system picked.
    TIdStackSocketHandle Listener(int32_t& port) {
        const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
        Stack.CheckForSocketError(Stack.Bind(s, Id_PF_INET, "127.0.0.1", 0));
        Stack.CheckForSocketError(Stack.Listen(s, 5));
        int32_t family = 0;
        std::string ip;
        Stack.SockName(s, family, ip, port);
        return s;
    }
};

} // namespace

TEST_F(StackTest, IsDottedAddressAcceptsOnlyFourPartsInByteRange) {
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"", false},          {"1.2.3", false},     {"1.2.3.4.5", false},      {"a.b.c.d", false},
        {"1.2.3.256", false}, {"0.0.0.0", true},    {"255.255.255.255", true}, {"127.0.0.1", true},
        {"1..3.4", false},    {"1.2.3.", false},    {"-1.2.3.4", false},       {"1.2.3.4x", false},
        {" 1.2.3.4", false},  {"01.002.3.4", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Stack.IsDottedAddress(c.text), c.expected);
    }
}

TEST_F(StackTest, AddressStringsConvertBothWays) {
    EXPECT_EQ(Stack.AddressToString({127, 0, 0, 1}), "127.0.0.1");
    EXPECT_EQ(Stack.AddressToString({255, 0, 10, 200}), "255.0.10.200");
    EXPECT_EQ(Stack.StringToAddress("127.0.0.1"), (TIdInAddr{127, 0, 0, 1}));
    // Anything after a fourth "." is ignored; a part outside 0..255 keeps its low 8 bits.
    EXPECT_EQ(Stack.StringToAddress("1.2.3.4.5"), (TIdInAddr{1, 2, 3, 4}));
    EXPECT_EQ(Stack.StringToAddress("256.257.-1.0"), (TIdInAddr{0, 1, 255, 0}));
}

// A part that is not a whole number is a conversion error, not a socket error.
TEST_F(StackTest, StringToAddressRejectsNonNumbersWithConversionError) {
    for (const char* text : {"a.b.c.d", "1.2.3", "", "1.2.3.4x", "1.2.3. 4"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(Stack.StringToAddress(text), std::invalid_argument);
    }
}

TEST_F(StackTest, ResolveHostNameBypassesResolverForLocalhostAndDottedAddresses) {
    EXPECT_EQ(Stack.ResolveHostName("LocalHost"), "127.0.0.1");
    EXPECT_EQ(Stack.ResolveHostName("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(Stack.ResolveHostName("10.0.0.1"), "10.0.0.1");
}

TEST_F(StackTest, NameUnderInvalidDomainRaisesResolverCode) {
    for (const char* name : {"no-such-host.invalid", "256.1.1.1.invalid"}) {
        SCOPED_TRACE(name);
        try {
            Stack.ResolveHostName(name);
            FAIL() << "resolved";
        } catch (const EIdSocketError& e) {
            EXPECT_GE(e.LastError(), 11001);
            EXPECT_LE(e.LastError(), 11004);
            EXPECT_EQ(Stack.LastError(), e.LastError());
        }
    }
}

TEST_F(StackTest, ConnectToClosedLoopbackPortIsRefused) {
    int32_t port = 0;
    const TIdStackSocketHandle listener = Listener(port);
    Stack.CloseSocket(listener); // the port is now closed
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    try {
        Stack.CheckForSocketError(Stack.Connect(s, Id_PF_INET, "127.0.0.1", port));
        FAIL() << "connected";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    Stack.CloseSocket(s);
}

TEST_F(StackTest, BindingAPortInUseGives10048AndCanBeIgnored) {
    int32_t port = 0;
    const TIdStackSocketHandle listener = Listener(port);
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    const int32_t result = Stack.Bind(s, Id_PF_INET, "127.0.0.1", port);
    EXPECT_EQ(result, Id_SOCKET_ERROR);
    EXPECT_EQ(Stack.LastSocketError(), 10048);
    EXPECT_TRUE(Stack.CheckForSocketError(result, {Id::WSAEADDRINUSE}));
    EXPECT_EQ(Stack.LastError(), 10048);
    EXPECT_THROW(Stack.CheckForSocketError(result), EIdSocketError);
    Stack.CloseSocket(s);
    Stack.CloseSocket(listener);
}

TEST_F(StackTest, AcceptedConnectionCarriesDataBothWaysAndReportsAddresses) {
    int32_t port = 0;
    const TIdStackSocketHandle listener = Listener(port);
    const TIdStackSocketHandle client = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    ASSERT_FALSE(Stack.CheckForSocketError(Stack.Connect(client, Id_PF_INET, "127.0.0.1", port)));
    std::string peerIP;
    int32_t peerPort = 0;
    const TIdStackSocketHandle server = Stack.Accept(listener, peerIP, peerPort);
    ASSERT_NE(server, Id_INVALID_SOCKET);
    EXPECT_EQ(peerIP, "127.0.0.1");

    int32_t family = 0;
    std::string ip;
    int32_t localPort = 0;
    Stack.SockName(client, family, ip, localPort);
    EXPECT_EQ(family, Id_PF_INET);
    EXPECT_EQ(localPort, peerPort);
    Stack.PeerName(client, family, ip, localPort);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(localPort, port);

    EXPECT_EQ(Stack.Send(client, "hello", 5, 0), 5);
    char buffer[16] = {};
    EXPECT_EQ(Stack.Recv(server, buffer, sizeof buffer, 0), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");

    Stack.CloseSocket(client);
    EXPECT_EQ(Stack.Recv(server, buffer, sizeof buffer, 0), 0); // peer closed
    Stack.CloseSocket(server);
    Stack.CloseSocket(listener);
}

TEST_F(StackTest, NewSocketHandleFailureRaisesInvalidSocket) {
    // Protocol 99 does not exist for stream sockets.
    EXPECT_THROW(Stack.NewSocketHandle(Id_SOCK_STREAM, 99), EIdInvalidSocket);
}

TEST_F(StackTest, PeerNameOfUnconnectedSocketRaisesNotConnected) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    int32_t family = 0;
    std::string ip;
    int32_t port = 0;
    try {
        Stack.PeerName(s, family, ip, port);
        FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10057);
    }
    Stack.CloseSocket(s);
}
