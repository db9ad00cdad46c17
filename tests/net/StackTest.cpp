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

// A zero byte would cut the name short in the C resolver and look up something else.
TEST_F(StackTest, NamesWithZeroByteAreNotFound) {
    const std::string name("localhost\0.example", 19);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        try {
            i == 0 ? Stack.ResolveHostName(name)
                   : Stack.HostByAddress(std::string("127.0.0.1\0", 10));
            FAIL() << "resolved";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), Id::WSAHOST_NOT_FOUND);
            EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
        }
    }
    EXPECT_THROW(Stack.ServicePort(std::string("http\0", 5)), EIdInvalidServiceName);
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

TEST_F(StackTest, ServicePortReadsServiceNamesAndNumbers) {
    EXPECT_EQ(Stack.ServicePort("6667"), 6667);
    EXPECT_EQ(Stack.ServicePort("0"), 0);
    try {
        Stack.ServicePort("no-such-service-x");
        FAIL() << "no exception";
    } catch (const EIdInvalidServiceName& e) {
        EXPECT_STREQ(e.what(), "no-such-service-x is not a valid service.");
    }
    EXPECT_THROW(Stack.ServicePort("80x"), EIdInvalidServiceName);
    EXPECT_THROW(Stack.ServicePort(""), EIdInvalidServiceName);
    // Names come from the system's service database, when it has one.
    if (!Stack.PortServices(80).empty()) {
        EXPECT_EQ(Stack.ServicePort(Stack.PortServices(80).front()), 80);
    }
    EXPECT_TRUE(Stack.PortServices(65000).empty());
}

TEST_F(StackTest, LocalNamesAndReverseLookup) {
    EXPECT_FALSE(Stack.LocalHostName().empty());
    EXPECT_TRUE(Stack.IsDottedAddress(Stack.LocalAddress()));
    EXPECT_EQ(Stack.LocalAddresses().front(), Stack.LocalAddress());
    EXPECT_FALSE(Stack.HostByAddress("127.0.0.1").empty());
}

TEST_F(StackTest, OutOfRangePortIsRefusedRatherThanCut) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    for (int32_t port : {-1, 65536, 65536 + 6667}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Stack.Bind(s, Id_PF_INET, "127.0.0.1", port), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
        EXPECT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", port), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
    }
    Stack.CloseSocket(s);
}

TEST_F(StackTest, SocketOptionsUseWinsockNumbers) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    const int32_t on = 1;
    EXPECT_EQ(Stack.SetSockOpt(s, Id_SOL_SOCKET, Id_SO_REUSEADDR, &on, sizeof on), 0);
    EXPECT_EQ(Stack.SetSockOpt(s, Id_IPPROTO_TCP, Id_TCP_NODELAY, &on, sizeof on), 0);
    int32_t value = 0;
    int32_t length = sizeof value;
    EXPECT_EQ(Stack.GetSockOpt(s, Id_SOL_SOCKET, Id_SO_REUSEADDR, &value, length), 0);
    EXPECT_NE(value, 0);
    value = 0;
    EXPECT_EQ(Stack.GetSockOpt(s, Id_IPPROTO_TCP, Id_TCP_NODELAY, &value, length), 0);
    EXPECT_NE(value, 0);
    EXPECT_EQ(Stack.SetSockOpt(s, 12345, 1, &on, sizeof on), Id_SOCKET_ERROR);
    EXPECT_EQ(Stack.LastSocketError(), Id::WSAENOPROTOOPT);
    // A socket-level option without a translation is refused, never passed through under a
    // number that means something else here (Winsock's SO_ACCEPTCONN is Linux's SO_REUSEADDR).
    EXPECT_EQ(Stack.SetSockOpt(s, Id_SOL_SOCKET, 0x0002, &on, sizeof on), Id_SOCKET_ERROR);
    EXPECT_EQ(Stack.LastSocketError(), Id::WSAENOPROTOOPT);
    int32_t type = 0;
    length = sizeof type;
    EXPECT_EQ(Stack.GetSockOpt(s, Id_SOL_SOCKET, Id_SO_TYPE, &type, length), 0);
    EXPECT_EQ(type, Id_SOCK_STREAM);
    int32_t error = -1;
    length = sizeof error;
    EXPECT_EQ(Stack.GetSockOpt(s, Id_SOL_SOCKET, Id_SO_ERROR, &error, length), 0);
    EXPECT_EQ(error, 0);
    Stack.CloseSocket(s);
}

TEST_F(StackTest, DatagramsCarrySenderAddress) {
    const TIdStackSocketHandle a = Stack.NewSocketHandle(Id_SOCK_DGRAM, 0);
    const TIdStackSocketHandle b = Stack.NewSocketHandle(Id_SOCK_DGRAM, 0);
    Stack.CheckForSocketError(Stack.Bind(a, Id_PF_INET, "127.0.0.1", 0));
    Stack.CheckForSocketError(Stack.Bind(b, Id_PF_INET, "127.0.0.1", 0));
    int32_t family = 0, portA = 0, portB = 0;
    std::string ip;
    Stack.SockName(a, family, ip, portA);
    Stack.SockName(b, family, ip, portB);
    EXPECT_EQ(Stack.SendTo(b, "ping", 4, 0, "127.0.0.1", portA), 4);
    char buffer[8] = {};
    std::string fromIP;
    int32_t fromPort = 0;
    EXPECT_EQ(Stack.RecvFrom(a, buffer, sizeof buffer, 0, fromIP, fromPort), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(fromIP, "127.0.0.1");
    EXPECT_EQ(fromPort, portB);
    Stack.CloseSocket(a);
    Stack.CloseSocket(b);
}
