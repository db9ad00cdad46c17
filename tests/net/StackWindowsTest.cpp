// The Winsock stack: loading and binding the library at run time, the socket list, Select's
// set limit and order, and Winsock's own codes coming through unmapped. Windows only (under
// wine here); the loopback peers are the stack's own sockets.
#ifdef _WIN32

#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "IdStackWindows.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using TestSupport::Raised;

namespace {

std::string CallTitle(std::string_view AName) {
    return "Error on call Winsock2 library function " + std::string(AName);
}

// A listening socket on 127.0.0.1 and a client connected to it, both closed at the end.
struct Pair {
    explicit Pair(TIdStack& AStack) : Stack(AStack) {
        Listener = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
        EXPECT_EQ(Stack.Bind(Listener, Id_PF_INET, "127.0.0.1", 0), 0);
        EXPECT_EQ(Stack.Listen(Listener, 5), 0);
        int32_t family = 0;
        std::string ip;
        Stack.SockName(Listener, family, ip, Port);
        Client = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
        EXPECT_EQ(Stack.Connect(Client, Id_PF_INET, "127.0.0.1", Port), 0);
        int32_t peerPort = 0;
        Server = Stack.Accept(Listener, ip, peerPort);
    }
    ~Pair() {
        for (TIdStackSocketHandle s : {Client, Server, Listener}) {
            Stack.CloseSocket(s);
        }
    }
    TIdStack& Stack;
    TIdStackSocketHandle Listener = Id_INVALID_SOCKET, Client = Id_INVALID_SOCKET,
                         Server = Id_INVALID_SOCKET;
    int32_t Port = 0;
};

class StackWindowsTest : public ::testing::Test {
protected:
    TIdStackWindows Stack; // the first of the process loads and starts Winsock
};

} // namespace

// A library that cannot be loaded names itself and carries the system's code; one loaded but
// without the function, or not loaded at all, names the function. Nothing crashes.
TEST(WinsockLibrary, LoadingAndBindingFailuresNameWhatFailed) {
    {
        TIdWinsockLibrary missing("BRISAL_NO_SUCH_LIBRARY.DLL");
        try {
            missing.Load();
            ADD_FAILURE() << "a library that does not exist was loaded";
        } catch (const EIdWS2StubError& e) {
            EXPECT_EQ(e.Title(), "Error on loading Winsock2 library (BRISAL_NO_SUCH_LIBRARY.DLL)");
            EXPECT_EQ(e.SystemError(), 126u); // ERROR_MOD_NOT_FOUND
            EXPECT_EQ(std::string(e.what()).rfind(e.Title() + ": ", 0), 0u) << e.what();
        }
        EXPECT_FALSE(missing.Loaded());
    }
    const struct {
        const char* why;
        const char* library; // loaded first when not null
        std::string_view function;
        uint32_t code;
    } cases[] = {
        {"the table's first entry, library not loaded", nullptr, "WSACleanup", 10093},
        {"an entry the stack calls, library not loaded", nullptr, "recv", 10093},
        {"the table's last entry, library not loaded", nullptr, "WSARecvEx", 10093},
        {"a library that is not Winsock lacks the function", "KERNEL32.DLL", "recv", 127},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TIdWinsockLibrary library(c.library != nullptr ? c.library : "WS2_32.DLL");
        if (c.library != nullptr) {
            library.Load();
        }
        const size_t index = WinsockFunctionIndex(c.function);
        ASSERT_LT(index, kWinsockFunctionNames.size());
        for (int attempt = 0; attempt < 2; ++attempt) { // a failed binding stays unbound
            try {
                library.Entry(index);
                ADD_FAILURE() << "bound without a function to bind";
            } catch (const EIdWS2StubError& e) {
                EXPECT_EQ(e.Title(), CallTitle(c.function));
                EXPECT_EQ(e.SystemError(), c.code);
            }
        }
    }
}

// The process's library is loaded and started by the stack; its entries bind lazily, and once
// loaded a table entry answers with the function of its own name.
TEST_F(StackWindowsTest, ProcessLibraryIsStartedAndBindsByName) {
    EXPECT_TRUE(StackStarted());
    EXPECT_TRUE(WinsockLibrary().Loaded());
    EXPECT_EQ(WinsockLibrary().Name(), "WS2_32.DLL");
    TIdWinsockLibrary own("WS2_32.DLL");
    own.Load();
    for (std::string_view name : {"htons", "ntohs", "htonl"}) {
        SCOPED_TRACE(std::string(name));
        EXPECT_EQ(own.Entry(WinsockFunctionIndex(name)),
                  WinsockLibrary().Entry(WinsockFunctionIndex(name)));
    }
    EXPECT_EQ(Stack.HToNS(0x1234), 0x3412);
    EXPECT_EQ(Stack.NToHL(0x01020304u), 0x04030201u);
}

// 64 handles in a list are waited on (repeats count once); 65 are refused before any wait.
// The lists come back holding the ready handles in set order; a time-out empties them.
TEST_F(StackWindowsTest, SelectTakesSixtyFourHandlesAndReturnsTheReadyOnes) {
    Pair a(Stack), b(Stack);
    ASSERT_EQ(Stack.Send(b.Client, "x", 1, 0), 1);
    TIdSocketHandles full(Id_FD_SETSIZE, a.Server);
    full.back() = b.Server;
    EXPECT_EQ(Stack.Select(&full, nullptr, nullptr, 5000), 1);
    EXPECT_EQ(full, TIdSocketHandles{b.Server});

    TIdSocketHandles over(Id_FD_SETSIZE + 1, a.Server);
    EXPECT_EQ(Raised<EIdStackSetSizeExceeded>([&] { Stack.Select(nullptr, nullptr, &over, 0); }),
              "Set Size Exceeded.");

    ASSERT_EQ(Stack.Send(a.Client, "y", 1, 0), 1);
    TIdSocketHandles read{b.Server, a.Server}, write{a.Client}, none{a.Server};
    EXPECT_EQ(Stack.Select(&read, &write, nullptr, 5000), 3);
    EXPECT_EQ(read, (TIdSocketHandles{b.Server, a.Server}));
    EXPECT_EQ(write, TIdSocketHandles{a.Client});
    char buffer[4];
    EXPECT_EQ(Stack.Recv(a.Server, buffer, sizeof buffer, 0), 1);
    EXPECT_EQ(Stack.Select(&none, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(none.empty());
}

// Winsock's codes arrive as they are, through the check into the exception, and each thread
// keeps its own: a failure on another thread does not change this thread's code.
TEST_F(StackWindowsTest, WinsockCodesPassUnmappedAndStayWithTheirThread) {
    int32_t port = 0;
    {
        Pair closed(Stack); // a port that was listening and no longer is
        port = closed.Port;
    }
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    ASSERT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", port), Id_SOCKET_ERROR);
    int32_t other = 0;
    std::thread([&] {
        char buffer[1];
        Stack.Recv(Id_INVALID_SOCKET, buffer, 1, 0);
        other = Stack.LastSocketError();
    }).join();
    EXPECT_EQ(other, Id::WSAENOTSOCK);
    EXPECT_EQ(Stack.LastSocketError(), Id::WSAECONNREFUSED);
    EXPECT_EQ(Raised<EIdSocketError>([&] { Stack.CheckForSocketError(Id_SOCKET_ERROR); }),
              "Socket Error # 10061\r\nConnection refused.");
    Stack.CloseSocket(s);

    // A socket-level option is Winsock's own number, passed as it is.
    Pair pair(Stack);
    int32_t on = 1, value = 0, length = sizeof value;
    ASSERT_EQ(Stack.SetSockOpt(pair.Client, Id_SOL_SOCKET, Id_SO_KEEPALIVE, &on, sizeof on), 0);
    ASSERT_EQ(Stack.GetSockOpt(pair.Client, Id_SOL_SOCKET, Id_SO_KEEPALIVE, &value, length), 0);
    EXPECT_EQ(value, 1);
}

// Shutting a socket down from another thread ends a call blocked on it, which then reads as
// ended, as on POSIX: the socket handle defers the close while a call holds the socket, so
// nothing else would end the reader's wait. Until the close, later calls see the same.
TEST_F(StackWindowsTest, ShutdownEndsABlockedWaitOrReceive) {
    const struct {
        const char* why;
        std::function<int32_t(TIdStack&, TIdStackSocketHandle)> call;
        int32_t expected;
    } cases[] = {
        {"a wait for reading without a time-out: ready",
         [](TIdStack& AStack, TIdStackSocketHandle ASocket) {
             TIdSocketHandles read{ASocket};
             return AStack.Select(&read, nullptr, nullptr, Id::TimeoutInfinite) == 1 &&
                            read == TIdSocketHandles{ASocket}
                        ? 1
                        : -2;
         },
         1},
        {"a blocked receive: the end of the stream",
         [](TIdStack& AStack, TIdStackSocketHandle ASocket) {
             char buffer[16];
             return AStack.Recv(ASocket, buffer, sizeof buffer, 0);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Pair pair(Stack);
        std::atomic<bool> entered{false};
        auto call = std::async(std::launch::async, [&] {
            entered = true;
            return c.call(Stack, pair.Client);
        });
        ASSERT_TRUE(TestSupport::WaitUntil([&] { return entered.load(); }));
        // Not ended by anything but the shutdown: a blocked call stays blocked for this long.
        ASSERT_EQ(call.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        ASSERT_EQ(Stack.Shutdown(pair.Client, Id_SD_Both), 0);
        if (call.wait_for(TestSupport::HangLimit) != std::future_status::ready) {
            Stack.CloseSocket(pair.Client); // frees the call before the test ends
            FAIL() << "the shutdown left the call blocked";
        }
        EXPECT_EQ(call.get(), c.expected);
        EXPECT_EQ(c.call(Stack, pair.Client), c.expected) << "again, after the shutdown";
    }
}

// A name that does not exist, or that the C call would cut at a zero byte, is not found:
// 11001 with the stack's own text. Dotted addresses and localhost never reach the resolver.
TEST_F(StackWindowsTest, ResolverFailuresAreHostNotFound) {
    const struct {
        const char* why;
        std::string host;
    } cases[] = {
        {"no such name", "no-such-host.invalid"},
        {"a zero byte inside", std::string("localhost\0.invalid", 18)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        try {
            Stack.ResolveHostName(c.host);
            ADD_FAILURE() << "resolved";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), Id::WSAHOST_NOT_FOUND);
            EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
        }
    }
    EXPECT_EQ(Stack.ResolveHostName("LocalHost"), "127.0.0.1");
    EXPECT_EQ(Stack.HostByName("127.0.0.1"), "127.0.0.1");
}

#endif // _WIN32
