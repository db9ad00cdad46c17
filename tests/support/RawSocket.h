// Plain BSD sockets on 127.0.0.1, for a peer or an occupied port; closed with their owner.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

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
            ::close(std::exchange(FFd, -1));
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
        pollfd wait{FFd, POLLIN, 0};
        return RawSocket(
            ::poll(&wait, 1, AMSec) == 1 ? ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC) : -1);
    }

private:
    template <typename F> static RawSocket Made(uint16_t APort, F ACall) {
        RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
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
    return ::fcntl(AFd, F_GETFD) != -1;
}
