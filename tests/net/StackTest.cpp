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

// While it holds an EAI_ code, every name lookup fails with it.
std::atomic<int> gResolverFails{0};

} // namespace

// Takes the place of the C library's resolver, so its failures can be had on demand.
extern "C" int getaddrinfo(const char* AName, const char* AService, const addrinfo* AHints,
                           addrinfo** AResult) {
    if (const int fail = gResolverFails.load()) {
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

// Localhost in any case never reaches the resolver. A temporary resolver failure must not read
// as "not found". The lookup of this machine's own name raises alike: the IRC registration
// falls back on the socket's address only then.
TEST_F(StackTest, ResolveHostName) {
    const struct {
        const char* why;
        std::string host;
        int eai;              // how the resolver fails if it is asked
        std::string expected; // the address, or the start of the error
    } cases[] = {
        {"localhost in any letter case", "LocalHost", EAI_AGAIN, "127.0.0.1"},
        {"not found", "irc.brisal.test", EAI_NONAME, "Socket Error # 11001\r\nHost not found."},
        {"try again", "irc.brisal.test", EAI_AGAIN, "Socket Error # 11002\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        gResolverFails = c.eai;
        std::string address;
        const std::string raised =
            Raised<EIdSocketError>([&] { address = Stack.ResolveHostName(c.host); });
        const std::string ownName = Raised<EIdSocketError>([&] { Stack.LocalAddress(); });
        gResolverFails = 0;
        EXPECT_EQ(address.empty() ? raised.substr(0, c.expected.size()) : address, c.expected);
        if (c.host == "irc.brisal.test") {
            EXPECT_EQ(ownName, raised);
        }
    }
}

// A port beyond 16 bits is refused rather than cut to some other port.
TEST_F(StackTest, PortsBeyondSixteenBitsAreRefused) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    for (int32_t bad : {-1, 65536, 65536 + 6667}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Stack.Bind(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
        EXPECT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
    }
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

// A signal handled without restart interrupts a wait; the stack resumes it with the time left.
// Sending on after the peer's close fails without SIGPIPE, which would end the program.
TEST_F(StackTest, SignalsDoNotBreakWaitsAndAClosedPeerRaisesNoSignal) {
    RawSocket listener = RawSocket::Listener(), client = RawSocket::Connected(listener.LocalPort()),
              server = listener.Accept();
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask); // and no SA_RESTART: calls fail with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<int32_t> selectResult{99};
    std::thread waiter([&] {
        TIdSocketHandles read{server.Fd()};
        selectResult = Stack.Select(&read, nullptr, nullptr, 400);
    });
    // Signals until the wait ends: by its time-out, not by the first signal.
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return selectResult != 99;
    }));
    waiter.join();
    EXPECT_EQ(selectResult, 0);
    sigaction(SIGUSR1, &previous, nullptr);
    server.Close();
    int32_t result = 0;
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        result = Stack.Send(client.Fd(), "data", 4, 0);
        return result < 0;
    }));
    const int32_t code = Stack.LastSocketError();
    EXPECT_TRUE(code == Id::WSAECONNRESET || code == Id::WSAESHUTDOWN) << code;
}
