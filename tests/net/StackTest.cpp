// The socket stack: name resolution, error codes, and its waits on loopback sockets.
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <netdb.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <utility>

using TestSupport::Raised;

namespace {

// While it holds an EAI_ code, every name lookup fails with it (errno EMFILE for EAI_SYSTEM).
std::atomic<int> gResolverFails{0};

} // namespace

// Takes the place of the C library's resolver, so its failures can be had on demand.
extern "C" int getaddrinfo(const char* AName, const char* AService, const addrinfo* AHints,
                           addrinfo** AResult) {
    if (const int fail = gResolverFails.load()) {
        errno = EMFILE;
        return fail;
    }
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(AName, AService, AHints, AResult);
}

namespace {

class StackTest : public ::testing::Test {
protected:
    TIdComponent FHolder; // keeps ActiveStack alive
    TIdStack& Stack = *ActiveStack();
};

} // namespace

// Localhost in any case and dotted addresses (four whole numbers 0..255) never reach the
// resolver, which fails here for anything that reaches it. A name with a zero byte (which the C
// resolver would cut short) is not found.
TEST_F(StackTest, ResolveHostName) {
    const auto answer = [&](const std::string& AHost) {
        gResolverFails = EAI_AGAIN;
        std::string result;
        try {
            result = Stack.ResolveHostName(AHost);
        } catch (const EIdSocketError& e) {
            result = e.what();
        }
        gResolverFails = 0;
        return result;
    };
    const struct {
        const char* why;
        std::string host;
        std::string expected;
    } cases[] = {
        {"localhost in any letter case", "LocalHost", "127.0.0.1"},
        {"a dotted address is its own answer", "10.0.0.1", "10.0.0.1"},
        {"localhost cut short by a zero byte", std::string("localhost\0.example", 18),
         "Socket Error # 11001\r\nHost not found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(answer(c.host), c.expected);
    }
    for (const char* text : {"1.2.3", "1.2.3.256", "1..3.4", "-1.2.3.4", "1.2.3.4x", " 1.2.3.4"}) {
        EXPECT_FALSE(Stack.IsDottedAddress(text)) << text;
    }
}

// A temporary resolver failure must not read as "not found". The lookup of this machine's own
// name raises alike: the IRC registration falls back on the socket's address only then.
TEST_F(StackTest, ResolverFailuresKeepTheirMeaning) {
    const struct {
        int eai;
        int32_t code;
    } cases[] = {
        {EAI_NONAME, 11001},
        {EAI_AGAIN, 11002},
        {EAI_FAIL, 11003},
        {EAI_SYSTEM, 10024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(gai_strerror(c.eai));
        gResolverFails = c.eai;
        const std::string raised =
            Raised<EIdSocketError>([&] { Stack.ResolveHostName("irc.brisal.test"); });
        const std::string ownName = Raised<EIdSocketError>([&] { Stack.LocalAddress(); });
        gResolverFails = 0;
        EXPECT_EQ(raised.substr(0, raised.find('\r')), "Socket Error # " + std::to_string(c.code));
        EXPECT_EQ(ownName, raised);
        EXPECT_EQ(Stack.LastError(), c.code);
    }
}

// Real failures come back with their codes.
TEST_F(StackTest, RealFailuresRaiseTheirCodes) {
    const TIdStackSocketHandle listener = Stack.NewSocketHandle(Id_SOCK_STREAM, 0);
    Stack.CheckForSocketError(Stack.Bind(listener, Id_PF_INET, "127.0.0.1", 0));
    Stack.CheckForSocketError(Stack.Listen(listener, 5));
    int32_t family = 0, port = 0, peerPort = 0;
    std::string ip;
    Stack.SockName(listener, family, ip, port);
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    const int32_t bound = Stack.Bind(s, Id_PF_INET, "127.0.0.1", port);
    EXPECT_EQ(Stack.LastSocketError(), 10048);
    EXPECT_TRUE(Stack.CheckForSocketError(bound, {Id::WSAEADDRINUSE}));
    EXPECT_THROW(Stack.CheckForSocketError(bound), EIdSocketError);
    EXPECT_EQ(Raised<EIdSocketError>([&] { Stack.PeerName(s, family, ip, peerPort); }),
              "Socket Error # 10057\r\nSocket is not connected.");
    for (int32_t bad : {-1, 65536, 65536 + 6667}) { // refused rather than cut to 16 bits
        SCOPED_TRACE(bad);
        EXPECT_EQ(Stack.Bind(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
        EXPECT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
    }
    Stack.CloseSocket(listener); // the port is now closed
    EXPECT_EQ(Raised<EIdSocketError>([&] {
                  Stack.CheckForSocketError(Stack.Connect(s, Id_PF_INET, "127.0.0.1", port));
              }),
              "Socket Error # 10061\r\nConnection refused.");
    Stack.CloseSocket(s);
}

// The mapping goes by name, not 10000 + the Linux number; an error with no socket meaning
// keeps its own small number.
TEST(SocketErrorMapping, NativeErrorsMapByNameAndUnknownOnesStayBelowWinsockRange) {
    for (const auto& [native, code] :
         {std::pair{EAGAIN, 10035}, std::pair{ECONNREFUSED, 10061}, std::pair{ECONNRESET, 10054},
          std::pair{EPIPE, 10058}, std::pair{0, 0}, std::pair{EDOM, EDOM}}) {
        EXPECT_EQ(Id::SocketErrorFromNative(native), code) << native;
    }
}

namespace {

// A connected loopback TCP pair for the stack to wait, receive and send on.
class SelectTest : public ::testing::Test {
protected:
    TIdComponent FHolder;
    TIdStack& Stack = *ActiveStack();
    RawSocket FListener = RawSocket::Listener();
    RawSocket FClient = RawSocket::Connected(FListener.LocalPort());
    RawSocket FServer = FListener.Accept();
    const int Client = FClient.Fd(), Server = FServer.Fd();
};

} // namespace

// Sending on after the peer's close fails without SIGPIPE, which would end the program.
TEST_F(SelectTest, SendingAfterThePeersCloseFailsWithoutSignal) {
    FServer.Close();
    int32_t result = 0;
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        result = Stack.Send(Client, "data", 4, 0);
        return result < 0;
    }));
    const int32_t code = Stack.LastSocketError();
    EXPECT_TRUE(code == Id::WSAECONNRESET || code == Id::WSAESHUTDOWN) << code;
}

// A signal handled without restart interrupts the system calls; the stack resumes them.
TEST_F(SelectTest, SignalsDoNotBreakWaitsOrReads) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask); // and no SA_RESTART: calls fail with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<int32_t> selectResult{99};
    std::atomic<int32_t> recvResult{99};
    std::thread waiter([&] {
        TIdSocketHandles read{Server};
        selectResult = Stack.Select(&read, nullptr, nullptr, 400);
        char buffer[4];
        recvResult = Stack.Recv(Server, buffer, sizeof buffer, 0);
    });
    // Signals until the wait ends: by its time-out, not by the first signal.
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return selectResult != 99;
    }));
    EXPECT_EQ(selectResult, 0);
    for (int i = 0; i < 3; ++i) { // in (or about to be in) Recv
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pthread_kill(waiter.native_handle(), SIGUSR1);
    }
    ASSERT_EQ(Stack.Send(Client, "ok", 2, 0), 2);
    waiter.join();
    EXPECT_EQ(recvResult, 2);
    sigaction(SIGUSR1, &previous, nullptr);
}
