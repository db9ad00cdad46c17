#include "RawSocket.h"

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <vector>

namespace {

#ifdef _WIN32
using NativePollFd = WSAPOLLFD;
using NativeSocket = SOCKET;
const int kNoSignal = 0; // Winsock raises no signal on a closed peer
const int kShutWrite = SD_SEND;

int NativePoll(NativePollFd* AFds, size_t ACount, int AMSec) {
    return ::WSAPoll(AFds, ULONG(ACount), AMSec);
}

int NewSocket() {
    // Started once for the test program; never cleaned up, as sockets live to its end.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const SOCKET s = started ? ::socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET;
    return s == INVALID_SOCKET ? -1 : int(s);
}

int AcceptFrom(int AListener) {
    const SOCKET s = ::accept(SOCKET(AListener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : int(s);
}
#else
using NativePollFd = pollfd;
using NativeSocket = int;
const int kNoSignal = MSG_NOSIGNAL;
const int kShutWrite = SHUT_WR;

int NativePoll(NativePollFd* AFds, size_t ACount, int AMSec) {
    return ::poll(AFds, ACount, AMSec);
}

int NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int AcceptFrom(int AListener) {
    return ::accept4(AListener, nullptr, nullptr, SOCK_CLOEXEC);
}
#endif

template <typename T> bool SetOption(int AFd, int ALevel, int AName, const T& AValue) {
    return ::setsockopt(NativeSocket(AFd), ALevel, AName, reinterpret_cast<const char*>(&AValue),
                        sizeof AValue) == 0;
}

template <typename F> RawSocket Made(uint16_t APort, F ACall) {
    RawSocket socket(NewSocket());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(APort);
    if (socket.Valid() &&
        !ACall(NativeSocket(socket.Fd()), reinterpret_cast<const sockaddr*>(&address))) {
        socket.Close();
    }
    return socket;
}

} // namespace

namespace RawNet {

int Poll(PollFd* AFds, size_t ACount, int AMSec) {
    // Winsock's poll takes no closed socket: those are left out of the native list.
    std::vector<NativePollFd> native;
    std::vector<PollFd*> watched;
    for (size_t i = 0; i < ACount; ++i) {
        AFds[i].Found = 0;
        if (AFds[i].Fd >= 0) {
            NativePollFd entry{};
            entry.fd = NativeSocket(AFds[i].Fd);
            entry.events = short(((AFds[i].Events & kIn) ? POLLIN : 0) |
                                 ((AFds[i].Events & kOut) ? POLLOUT : 0));
            native.push_back(entry);
            watched.push_back(&AFds[i]);
        }
    }
    const int found = NativePoll(native.data(), native.size(), AMSec);
    for (size_t i = 0; i < native.size(); ++i) {
        const short ended = POLLHUP | POLLERR;
        watched[i]->Found = short(((native[i].revents & (POLLIN | ended)) ? kIn : 0) |
                                  ((native[i].revents & (POLLOUT | ended)) ? kOut : 0)) &
                            watched[i]->Events;
    }
    return found;
}

int Send(int AFd, const void* AData, size_t ALength) {
    return int(::send(NativeSocket(AFd), static_cast<const char*>(AData), int(ALength), kNoSignal));
}

int Recv(int AFd, void* ABuffer, size_t ALength) {
    return int(::recv(NativeSocket(AFd), static_cast<char*>(ABuffer), int(ALength), 0));
}

int ShutdownWrite(int AFd) {
    return ::shutdown(NativeSocket(AFd), kShutWrite);
}

int Listen(int AFd, int ABacklog) {
    return ::listen(NativeSocket(AFd), ABacklog);
}

bool SetNoDelay(int AFd) {
    return SetOption(AFd, IPPROTO_TCP, TCP_NODELAY, 1);
}

bool SetAbortiveClose(int AFd) {
    return SetOption(AFd, SOL_SOCKET, SO_LINGER, linger{1, 0});
}

#ifdef _WIN32
bool WouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

bool SetNonBlocking(int AFd) {
    u_long on = 1;
    return ::ioctlsocket(SOCKET(AFd), FIONBIO, &on) == 0;
}

int Pending(int AFd) {
    u_long pending = 0;
    return ::ioctlsocket(SOCKET(AFd), FIONREAD, &pending) == 0 ? int(pending) : -1;
}

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

bool DescriptorOpen(int AFd) {
    int type = 0;
    int length = sizeof type;
    return ::getsockopt(SOCKET(AFd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                        &length) == 0;
}
#else
bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

bool SetNonBlocking(int AFd) {
    return ::fcntl(AFd, F_SETFL, ::fcntl(AFd, F_GETFL) | O_NONBLOCK) == 0;
}

int Pending(int AFd) {
    int pending = -1;
    return ::ioctl(AFd, FIONREAD, &pending) == 0 ? pending : -1;
}

bool DescriptorOpen(int AFd) {
    return ::fcntl(AFd, F_GETFD) != -1;
}

bool UnderWine() {
    return false;
}
#endif

} // namespace RawNet

void RawSocket::Close() {
    if (FFd >= 0) {
#ifdef _WIN32
        ::closesocket(SOCKET(std::exchange(FFd, -1)));
#else
        ::close(std::exchange(FFd, -1));
#endif
    }
}

uint16_t RawSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    const bool named =
        ::getsockname(NativeSocket(FFd), reinterpret_cast<sockaddr*>(&address), &length) == 0;
    return named ? ntohs(address.sin_port) : 0;
}

RawSocket RawSocket::Bound(uint16_t APort, bool AListen) {
    return Made(APort, [&](NativeSocket AFd, const sockaddr* AAddress) {
        return ::bind(AFd, AAddress, sizeof(sockaddr_in)) == 0 &&
               (!AListen || ::listen(AFd, 16) == 0);
    });
}

RawSocket RawSocket::Connected(uint16_t APort) {
    return Made(APort, [](NativeSocket AFd, const sockaddr* AAddress) {
        return ::connect(AFd, AAddress, sizeof(sockaddr_in)) == 0;
    });
}

RawSocket RawSocket::Accept(int AMSec) const {
    RawNet::PollFd wait{FFd, RawNet::kIn};
    return RawSocket(RawNet::Poll(&wait, 1, AMSec) == 1 ? AcceptFrom(FFd) : -1);
}

std::pair<RawSocket, RawSocket> RawSocket::Pair() {
#ifdef _WIN32
    const RawSocket listener = Listener();
    RawSocket one = Connected(listener.LocalPort());
    RawSocket other = listener.Accept();
    if (!one.Valid() || !other.Valid() || !RawNet::SetNonBlocking(one.Fd()) ||
        !RawNet::SetNonBlocking(other.Fd())) {
        return {};
    }
    return {std::move(one), std::move(other)};
#else
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        return {};
    }
    return {RawSocket(ends[0]), RawSocket(ends[1])};
#endif
}
