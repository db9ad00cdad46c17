// Plain BSD sockets on 127.0.0.1, for a peer or an occupied port; closed with their owner.
// On Windows they are Winsock's, linked directly: only the product's stack must load the
// library at run time. A socket's number is kept as an int there too (Winsock's handles fit),
// so the tests hand it to the stack as they do on POSIX.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <utility>

namespace RawNet {

#ifdef _WIN32
using PollFd = WSAPOLLFD;
inline constexpr int kShutWrite = SD_SEND;
inline constexpr int kNoSignal = 0; // Winsock raises no signal on a closed peer
inline int Poll(PollFd* AFds, unsigned AFdCount, int AMSec) {
    return ::WSAPoll(AFds, AFdCount, AMSec);
}
inline int Close(int AFd) {
    return ::closesocket(SOCKET(AFd));
}
inline int Socket(int AType) {
    // Started once for the test program; never cleaned up, as the sockets live to its end.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const SOCKET s = started ? ::socket(AF_INET, AType, 0) : INVALID_SOCKET;
    return s == INVALID_SOCKET ? -1 : int(s);
}
inline int AcceptFrom(int AListener) {
    const SOCKET s = ::accept(SOCKET(AListener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : int(s);
}
inline bool SetNonBlocking(int AFd) {
    u_long on = 1;
    return ::ioctlsocket(SOCKET(AFd), FIONBIO, &on) == 0;
}
inline bool WouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
// The bytes that arrived and were not read yet, or -1.
inline int Pending(int AFd) {
    u_long pending = 0;
    return ::ioctlsocket(SOCKET(AFd), FIONREAD, &pending) == 0 ? int(pending) : -1;
}
#else
using PollFd = pollfd;
inline constexpr int kShutWrite = SHUT_WR;
inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline int Poll(PollFd* AFds, unsigned AFdCount, int AMSec) {
    return ::poll(AFds, AFdCount, AMSec);
}
inline int Close(int AFd) {
    return ::close(AFd);
}
inline int Socket(int AType) {
    return ::socket(AF_INET, AType | SOCK_CLOEXEC, 0);
}
inline int AcceptFrom(int AListener) {
    return ::accept4(AListener, nullptr, nullptr, SOCK_CLOEXEC);
}
inline bool SetNonBlocking(int AFd) {
    return ::fcntl(AFd, F_SETFL, ::fcntl(AFd, F_GETFL) | O_NONBLOCK) == 0;
}
inline bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
inline int Pending(int AFd) {
    int pending = -1;
    return ::ioctl(AFd, FIONREAD, &pending) == 0 ? pending : -1;
}
#endif

// What a Poll waits for on one socket.
inline PollFd Watch(int AFd, int AEvents) {
    PollFd watch{};
    watch.fd = decltype(watch.fd)(AFd);
    watch.events = short(AEvents);
    return watch;
}

} // namespace RawNet

class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int AFd) : FFd(AFd) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& AOther) noexcept : FFd(std::exchange(AOther.FFd, -1)) {}
    RawSocket& operator=(RawSocket&& AOther) noexcept {
        std::swap(FFd, AOther.FFd);
        return *this;
    }

    int Fd() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Close() {
        if (FFd >= 0) {
            RawNet::Close(std::exchange(FFd, -1));
        }
    }
    uint16_t LocalPort() const {
        sockaddr_in address{};
        socklen_t length = sizeof(address);
        const bool named = ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        return named ? ntohs(address.sin_port) : 0;
    }

    // Bound to 127.0.0.1:APort (0: any free port); invalid when the port is taken.
    static RawSocket Bound(uint16_t APort, bool AListen = false) {
        return Made(APort, [&](int AFd, const sockaddr* AAddress) {
            return ::bind(AFd, AAddress, sizeof(sockaddr_in)) == 0 &&
                   (!AListen || ::listen(AFd, 16) == 0);
        });
    }
    static RawSocket Listener() { return Bound(0, true); }
    static RawSocket Connected(uint16_t APort) {
        return Made(APort, [](int AFd, const sockaddr* AAddress) {
            return ::connect(AFd, AAddress, sizeof(sockaddr_in)) == 0;
        });
    }
    // Accepts one connection, waiting up to AMSec; invalid on time-out.
    RawSocket Accept(int AMSec = 5000) const {
        RawNet::PollFd wait = RawNet::Watch(FFd, POLLIN);
        return RawSocket(RawNet::Poll(&wait, 1, AMSec) == 1 ? RawNet::AcceptFrom(FFd) : -1);
    }
    // Two ends of one connection, neither blocking: a wake-up line for a thread in a poll.
    static std::pair<RawSocket, RawSocket> Pair() {
#ifndef _WIN32
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
            return {};
        }
        return {RawSocket(ends[0]), RawSocket(ends[1])};
#else
        const RawSocket listener = Listener();
        RawSocket one = Connected(listener.LocalPort());
        RawSocket other = listener.Accept();
        if (!one.Valid() || !other.Valid() || !RawNet::SetNonBlocking(one.Fd()) ||
            !RawNet::SetNonBlocking(other.Fd())) {
            return {};
        }
        return {std::move(one), std::move(other)};
#endif
    }

private:
    template <typename F> static RawSocket Made(uint16_t APort, F ACall) {
        RawSocket socket(RawNet::Socket(SOCK_STREAM));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(APort);
        if (socket.Valid() && !ACall(socket.Fd(), reinterpret_cast<const sockaddr*>(&address))) {
            socket.Close();
        }
        return socket;
    }

    int FFd = -1;
};

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it now).
inline uint16_t FreeLoopbackPort() {
    return RawSocket::Bound(0).LocalPort();
}

inline bool DescriptorOpen(int AFd) {
#ifdef _WIN32
    int type = 0;
    int length = sizeof type;
    return ::getsockopt(SOCKET(AFd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                        &length) == 0;
#else
    return ::fcntl(AFd, F_GETFD) != -1;
#endif
}
