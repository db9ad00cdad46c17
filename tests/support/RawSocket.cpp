#include "RawSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace {

sockaddr_in Loopback(uint16_t APort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(APort);
    return address;
}

} // namespace

RawSocket::~RawSocket() {
    Close();
}

RawSocket::RawSocket(RawSocket&& AOther) noexcept : FFd(std::exchange(AOther.FFd, -1)) {}

RawSocket& RawSocket::operator=(RawSocket&& AOther) noexcept {
    if (this != &AOther) {
        Close();
        FFd = std::exchange(AOther.FFd, -1);
    }
    return *this;
}

void RawSocket::Close() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

uint16_t RawSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (FFd < 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

RawSocket RawSocket::Bound(uint16_t APort, bool AListen, int ABacklog) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid()) {
        return socket;
    }
    const sockaddr_in address = Loopback(APort);
    if (::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        (AListen && ::listen(socket.Fd(), ABacklog) != 0)) {
        socket.Close();
    }
    return socket;
}

RawSocket RawSocket::Connected(uint16_t APort) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(APort);
    if (socket.Valid() &&
        ::connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        socket.Close();
    }
    return socket;
}

RawSocket RawSocket::Accept(int AMSec) const {
    pollfd wait{FFd, POLLIN, 0};
    if (::poll(&wait, 1, AMSec) != 1) {
        return RawSocket();
    }
    return RawSocket(::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC));
}

uint16_t FreeLoopbackPort() {
    return RawSocket::Bound(0).LocalPort();
}

std::vector<RawSocket> HoldPortRun(int ACount) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const uint16_t first = FreeLoopbackPort();
        if (first == 0 || first > 65535 - ACount) {
            continue;
        }
        std::vector<RawSocket> run;
        for (int i = 0; i < ACount; ++i) {
            RawSocket socket = RawSocket::Bound(static_cast<uint16_t>(first + i));
            if (!socket.Valid()) {
                break;
            }
            run.push_back(std::move(socket));
        }
        if (static_cast<int>(run.size()) == ACount) {
            return run;
        }
    }
    return {};
}

bool DescriptorOpen(int AFd) {
    return ::fcntl(AFd, F_GETFD) != -1;
}
