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
    for (const char* text : {"0.0.0.0", "255.255.255.255", "127.0.0.1", "01.002.3.4"}) {
        EXPECT_TRUE(Stack.IsDottedAddress(text)) << text;
    }
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "a.b.c.d", "1.2.3.256", "1..3.4", "1.2.3.",
                             "-1.2.3.4", "1.2.3.4x", " 1.2.3.4"}) {
        EXPECT_FALSE(Stack.IsDottedAddress(text)) << text;
    }
}

// Anything after a fourth "." is ignored; a part outside 0..255 keeps its low 8 bits; a part
// that is not a whole number is a conversion error, not a socket error.
TEST_F(StackTest, AddressStringsConvertBothWays) {
    EXPECT_EQ(Stack.AddressToString({255, 0, 10, 200}), "255.0.10.200");
    EXPECT_EQ(Stack.StringToAddress("127.0.0.1"), (TIdInAddr{127, 0, 0, 1}));
    EXPECT_EQ(Stack.StringToAddress("1.2.3.4.5"), (TIdInAddr{1, 2, 3, 4}));
    EXPECT_EQ(Stack.StringToAddress("256.257.-1.0"), (TIdInAddr{0, 1, 255, 0}));
    for (const char* text : {"a.b.c.d", "1.2.3", "", "1.2.3.4x", "1.2.3. 4"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(Stack.StringToAddress(text), std::invalid_argument);
    }
}

// Localhost and dotted addresses bypass the resolver. A name under the reserved .invalid
// domain, or one with a zero byte (which would cut it short in the C resolver and look up
// something else), is not found.
TEST_F(StackTest, ResolveHostName) {
    EXPECT_EQ(Stack.ResolveHostName("LocalHost"), "127.0.0.1");
    EXPECT_EQ(Stack.ResolveHostName("10.0.0.1"), "10.0.0.1");
    EXPECT_FALSE(Stack.HostByAddress("127.0.0.1").empty());
    EXPECT_FALSE(Stack.LocalHostName().empty());
    EXPECT_TRUE(Stack.IsDottedAddress(Stack.LocalAddress()));
    for (const char* name : {"no-such-host.invalid", "256.1.1.1.invalid"}) {
        SCOPED_TRACE(name);
        try {
            Stack.ResolveHostName(name);
            ADD_FAILURE() << "resolved";
        } catch (const EIdSocketError& e) {
            EXPECT_GE(e.LastError(), 11001);
            EXPECT_LE(e.LastError(), 11004);
            EXPECT_EQ(Stack.LastError(), e.LastError());
        }
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        try {
            i == 0 ? Stack.ResolveHostName(std::string("localhost\0.example", 18))
                   : Stack.HostByAddress(std::string("127.0.0.1\0", 10));
            ADD_FAILURE() << "resolved";
        } catch (const EIdSocketError& e) {
            EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
        }
    }
}

// Real failures come back with their codes: a refused connect, a port in use (which the
// caller may ignore), an unconnected peer, a protocol that does not exist, a port out of range.
TEST_F(StackTest, RealFailuresRaiseTheirCodes) {
    int32_t port = 0;
    const TIdStackSocketHandle listener = Listener(port);
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    const int32_t bound = Stack.Bind(s, Id_PF_INET, "127.0.0.1", port);
    EXPECT_EQ(bound, Id_SOCKET_ERROR);
    EXPECT_EQ(Stack.LastSocketError(), 10048);
    EXPECT_TRUE(Stack.CheckForSocketError(bound, {Id::WSAEADDRINUSE}));
    EXPECT_THROW(Stack.CheckForSocketError(bound), EIdSocketError);
    int32_t family = 0, peerPort = 0;
    std::string ip;
    try {
        Stack.PeerName(s, family, ip, peerPort);
        ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10057);
    }
    for (int32_t bad : {-1, 65536, 65536 + 6667}) { // refused rather than cut to 16 bits
        SCOPED_TRACE(bad);
        EXPECT_EQ(Stack.Bind(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
        EXPECT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
    }
    Stack.CloseSocket(listener); // the port is now closed
    try {
        Stack.CheckForSocketError(Stack.Connect(s, Id_PF_INET, "127.0.0.1", port));
        ADD_FAILURE() << "connected";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    Stack.CloseSocket(s);
    EXPECT_THROW(Stack.NewSocketHandle(Id_SOCK_STREAM, 99), EIdInvalidSocket);
}

TEST_F(StackTest, ServicePortReadsServiceNamesAndNumbers) {
    EXPECT_EQ(Stack.ServicePort("6667"), 6667);
    EXPECT_EQ(Stack.ServicePort("0"), 0);
    try {
        Stack.ServicePort("no-such-service-x");
        ADD_FAILURE() << "no exception";
    } catch (const EIdInvalidServiceName& e) {
        EXPECT_STREQ(e.what(), "no-such-service-x is not a valid service.");
    }
    for (const std::string& bad : {std::string("80x"), std::string(), std::string("http\0", 5)}) {
        EXPECT_THROW(Stack.ServicePort(bad), EIdInvalidServiceName);
    }
    if (!Stack.PortServices(80).empty()) { // names come from the system's service database
        EXPECT_EQ(Stack.ServicePort(Stack.PortServices(80).front()), 80);
    }
    EXPECT_TRUE(Stack.PortServices(65000).empty());
}

// A socket-level option without a translation is refused, never passed through under a
// number that means something else here (Winsock's SO_ACCEPTCONN is Linux's SO_REUSEADDR).
TEST_F(StackTest, SocketOptionsUseWinsockNumbers) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    const int32_t on = 1;
    for (const auto& [level, option] :
         {std::pair{Id_SOL_SOCKET, Id_SO_REUSEADDR}, std::pair{Id_IPPROTO_TCP, Id_TCP_NODELAY}}) {
        int32_t value = 0;
        int32_t length = sizeof value;
        EXPECT_EQ(Stack.SetSockOpt(s, level, option, &on, sizeof on), 0);
        EXPECT_EQ(Stack.GetSockOpt(s, level, option, &value, length), 0);
        EXPECT_NE(value, 0) << option;
    }
    for (const auto& [level, option] : {std::pair{12345, 1}, std::pair{Id_SOL_SOCKET, 0x0002}}) {
        EXPECT_EQ(Stack.SetSockOpt(s, level, option, &on, sizeof on), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAENOPROTOOPT);
    }
    Stack.CloseSocket(s);
}

TEST_F(StackTest, DatagramsCarrySenderAddress) {
    TIdStackSocketHandle sockets[2];
    int32_t ports[2] = {};
    for (int i = 0; i < 2; ++i) {
        sockets[i] = Stack.NewSocketHandle(Id_SOCK_DGRAM, 0);
        Stack.CheckForSocketError(Stack.Bind(sockets[i], Id_PF_INET, "127.0.0.1", 0));
        int32_t family = 0;
        std::string ip;
        Stack.SockName(sockets[i], family, ip, ports[i]);
    }
    EXPECT_EQ(Stack.SendTo(sockets[1], "ping", 4, 0, "127.0.0.1", ports[0]), 4);
    char buffer[8] = {};
    std::string fromIP;
    int32_t fromPort = 0;
    EXPECT_EQ(Stack.RecvFrom(sockets[0], buffer, sizeof buffer, 0, fromIP, fromPort), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(fromIP, "127.0.0.1");
    EXPECT_EQ(fromPort, ports[1]);
    Stack.CloseSocket(sockets[0]);
    Stack.CloseSocket(sockets[1]);
}
