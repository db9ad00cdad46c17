// Components and their socket stack, the socket handle and the socket I/O handler (with the
// anti-freeze in its waits). Ports are found free or held at run time.
#include "IdAntiFreezeBase.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdMainThreadQueue.h"
#include "IdSocketErrors.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "ProbeStack.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#ifndef _WIN32
#include <csignal>
#include <dlfcn.h>
#include <netdb.h>
#include <pthread.h>
#endif

using namespace std::chrono_literals;
using TestSupport::Raised;

namespace {

void Connect(TIdIOHandlerSocket& AHandler, const std::string& AHost, int32_t APort) {
    AHandler.Open();
    AHandler.ConnectClient(AHost, APort, "", 0, 0, 0, Id::TimeoutDefault);
}

// Not a TIdComponent, so it does not keep the stack alive.
struct StackWatcher : TIdBaseComponent {
    bool FSawStack = false;
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override {
        FSawStack = ActiveStack() != nullptr;
        TIdBaseComponent::Notification(AComponent, AOperation);
    }
};

struct CountingAntiFreeze : TIdAntiFreezeBase {
    void Process() override {
        ++Calls;
        RaiseEvent(OnProcess);
    }
    int Calls = 0;
    std::function<void()> OnProcess;
};

// Answers Connected as a check made just before a close on another thread did: connected.
struct LateCloseHandler : TIdIOHandlerSocket {
    bool Connected() override { return true; }
};

} // namespace

// The last component's holders hear of its removal while the stack still exists, so they can
// still close what they hold.
TEST(StackLifetime, FirstComponentCreatesStackAndLastFreesIt) {
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = ActiveStack();
    auto second = std::make_unique<TIdComponent>();
    first.reset();
    EXPECT_EQ(ActiveStack(), stack);
    StackWatcher watcher;
    second->FreeNotification(&watcher);
    second.reset();
    EXPECT_TRUE(watcher.FSawStack);
    EXPECT_EQ(ActiveStack(), nullptr);
}

// A wait on the window's thread is cut into slices of the idle time-out (at least
// MinIdleSlice) with processing after each; the slice that finds data is not idle. An infinite
// wait with idle 0 sleeps in its slices until the peer sends 300 ms later: a spin would process
// thousands of times instead of about once a millisecond.
TEST(AntiFreeze, ReadableWaitsInSlicesWithProcessingBetween) {
    TIdMainThreadQueue::Instance().RegisterMainThread();
    CountingAntiFreeze antiFreeze;
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    Connect(handler, "127.0.0.1", listener.LocalPort());
    RawSocket peer = listener.Accept();
    const auto peerSends = [&] { ASSERT_EQ(RawNet::Send(peer.Fd(), "x", 1), 1); };
    const struct {
        const char* why;
        int32_t idle, wait;
        int sendAt; // the processing call that makes the peer send; 0: none
        bool readable;
        int calls;
    } cases[] = {
        {"idle 0: slices of the minimum", 0, 100, 0, false, 100 / TIdAntiFreezeBase::MinIdleSlice},
        {"two million slices of 1 ms", 1, 2000000, 3, true, 3},
    };
    char byte;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        antiFreeze.SetIdleTimeOut(c.idle);
        antiFreeze.Calls = 0;
        antiFreeze.OnProcess = [&] { antiFreeze.Calls == c.sendAt ? peerSends() : void(); };
        EXPECT_EQ(handler.Readable(c.wait), c.readable);
        EXPECT_EQ(antiFreeze.Calls, c.calls);
        ASSERT_EQ(c.readable ? handler.Recv(&byte, 1) : 1, 1);
    }
    using Clock = std::chrono::steady_clock;
    antiFreeze.SetIdleTimeOut(0);
    antiFreeze.Calls = 0;
    const auto start = Clock::now();
    bool sent = false;
    antiFreeze.OnProcess = [&] {
        if (!sent && Clock::now() - start >= 300ms) {
            sent = true;
            peerSends();
        }
    };
    EXPECT_TRUE(handler.Readable(Id::TimeoutInfinite));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(antiFreeze.Calls, 2 * ms.count() + 10) << "in " << ms.count() << " ms";
}

// A range of one port binds that port: the search goes down to the range's minimum. After
// CloseSocket, reads and writes fail as on a closed descriptor (10009; Winsock's own code for a
// call on no socket is 10038), never touching whatever socket has since been given the old
// number.
TEST(SocketHandle, BindsInItsRangeAndFailsAsClosedAfterClose) {
    TIdComponent stackKeeper; // the handle's stack exists while a component does
    TIdSocketHandle handle;
    const uint16_t port = FreeLoopbackPort();
    handle.AllocateSocket();
    handle.SetIP("127.0.0.1");
    handle.SetClientPortMin(port);
    handle.SetClientPortMax(port);
    handle.Bind();
    EXPECT_EQ(handle.Port(), port);
    const int fd = handle.Handle();
#ifdef _WIN32
    // Winsock has no dup2, but its handle table gives a freed number to the next new socket:
    // the listener is made first, so that the next one is a connection's end.
    RawSocket listener = RawSocket::Listener();
    handle.CloseSocket();
    RawSocket reused = RawSocket::Connected(listener.LocalPort());
    RawSocket peer = listener.Accept();
    ASSERT_EQ(reused.Fd(), fd) << "the next socket was not given the closed one's number";
#else
    handle.CloseSocket();
    RawSocket listener = RawSocket::Listener();
    RawSocket peer = RawSocket::Connected(listener.LocalPort());
    RawSocket newcomer = listener.Accept();
    ASSERT_EQ(::dup2(newcomer.Fd(), fd), fd);
    RawSocket reused(fd);
#endif
    ASSERT_EQ(RawNet::Send(peer.Fd(), "x", 1), 1);
    char byte = 0;
    TIdStack& stack = *ActiveStack();
#ifdef _WIN32
    const int32_t closedCode = Id::WSAENOTSOCK;
#else
    const int32_t closedCode = Id::WSAEBADF;
#endif
    EXPECT_EQ(handle.Recv(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), closedCode);
    EXPECT_EQ(handle.Send(&byte, 1, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), closedCode);
    RawNet::PollFd wait{fd, RawNet::kIn};
    ASSERT_EQ(RawNet::Poll(&wait, 1, 5000), 1);
    EXPECT_EQ(RawNet::Recv(fd, &byte, 1), 1) << "the byte was taken by the closed handle";
}

// A Disconnect wakes a reader in recv at once but keeps the descriptor until the reader has
// left, so its number is not reused under it.
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
    stack.RecvGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
    // A call that passed its check for a connection just before the close is this side's close
    // too, not the socket error of a call on no descriptor ("Socket Error # 10009").
    LateCloseHandler late;
    Connect(late, "127.0.0.1", listener.LocalPort());
    RawSocket accepted = listener.Accept();
    late.Close();
    char byte = 'x';
    EXPECT_EQ(Raised<EIdClosedSocket>([&] { late.Recv(&byte, 1); }), "Disconnected.");
}

#ifndef _WIN32
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
#endif

namespace {

class StackTest : public ::testing::Test {
protected:
    TIdComponent FHolder; // keeps ActiveStack alive
    TIdStack& Stack = *ActiveStack();
};

} // namespace

// Add fills 64 places and refuses the 65th; Items refuses -1 and Count; Remove moves the last
// handle into the freed place, clears it, and ignores an absent handle.
TEST(SocketList, BoundsAndRemoveByMovingTheLast) {
    const auto list = TIdSocketList::CreateSocketList();
    for (int32_t i = 0; i < Id_FD_SETSIZE; ++i) {
        list->Add(100 + i);
    }
    EXPECT_EQ(Raised<EIdStackSetSizeExceeded>([&] { list->Add(999); }), "Set Size Exceeded.");
    EXPECT_EQ(list->Count(), Id_FD_SETSIZE);
    const struct {
        const char* why;
        int32_t index;
    } bad[] = {{"below zero", -1}, {"at Count", Id_FD_SETSIZE}};
    for (const auto& c : bad) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Raised<EIdStackSetSizeExceeded>([&] { list->Items(c.index); }),
                  "Set Size Exceeded.");
    }
    list->Remove(101);  // the last (163) takes its place
    list->Remove(4242); // absent: nothing changes
    EXPECT_EQ(list->Count(), Id_FD_SETSIZE - 1);
    EXPECT_EQ(list->Items(0), 100);
    EXPECT_EQ(list->Items(1), 100 + Id_FD_SETSIZE - 1);
    EXPECT_EQ(Raised<EIdStackSetSizeExceeded>([&] { list->Items(Id_FD_SETSIZE - 1); }),
              "Set Size Exceeded.");
    list->Add(7); // the freed last place takes a new handle again
    EXPECT_EQ(list->Items(Id_FD_SETSIZE - 1), 7);
}

// Localhost in any case never reaches the resolver. A temporary resolver failure must not read
// as "not found". The lookup of this machine's own name raises alike: the IRC registration
// falls back on the socket's address only then.
TEST_F(StackTest, ResolveHostName) {
#ifdef _WIN32
    GTEST_SKIP() << "the resolver's failures cannot be had on demand: the stack binds its "
                    "resolver calls from WS2_32.DLL at run time, where no function of the test "
                    "program can stand in for them";
#else
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
#endif
}

// A port beyond 16 bits is refused rather than cut to some other port. Native errors map by
// name, not 10000 + the Linux number; one with no socket meaning keeps its own small number.
// Winsock's native codes are already the codes spoken here: they pass unchanged.
TEST_F(StackTest, PortsBeyondSixteenBitsAndNativeErrorCodes) {
    const TIdStackSocketHandle s = Stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_TCP);
    for (int32_t bad : {-1, 65536, 65536 + 6667}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Stack.Bind(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
        EXPECT_EQ(Stack.Connect(s, Id_PF_INET, "127.0.0.1", bad), Id_SOCKET_ERROR);
        EXPECT_EQ(Stack.LastSocketError(), Id::WSAEINVAL);
    }
    Stack.CloseSocket(s);
#ifdef _WIN32
    const int wouldBlock = Id::WSAEWOULDBLOCK, refused = Id::WSAECONNREFUSED,
              reset = Id::WSAECONNRESET, shutDown = Id::WSAESHUTDOWN;
#else
    const int wouldBlock = EAGAIN, refused = ECONNREFUSED, reset = ECONNRESET, shutDown = EPIPE;
#endif
    for (const auto& [native, code] :
         {std::pair{wouldBlock, 10035}, std::pair{refused, 10061}, std::pair{reset, 10054},
          std::pair{shutDown, 10058}, std::pair{0, 0}, std::pair{EDOM, EDOM}}) {
        EXPECT_EQ(Id::SocketErrorFromNative(native), code) << native;
    }
}

// A signal handled without restart interrupts a wait; the stack resumes it with the time left.
// Sending on after the peer's close fails without SIGPIPE, which would end the program.
// Winsock knows no signals: there only the second half applies.
TEST_F(StackTest, SignalsDoNotBreakWaitsAndAClosedPeerRaisesNoSignal) {
    RawSocket listener = RawSocket::Listener(), client = RawSocket::Connected(listener.LocalPort()),
              server = listener.Accept();
#ifndef _WIN32
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
#endif
    server.Close();
    int32_t result = 0;
    ASSERT_TRUE(TestSupport::WaitUntil([&] {
        result = Stack.Send(client.Fd(), "data", 4, 0);
        return result < 0;
    }));
    const int32_t code = Stack.LastSocketError();
    EXPECT_TRUE(code == Id::WSAECONNRESET || code == Id::WSAESHUTDOWN) << code;
}
