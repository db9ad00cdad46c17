#include "RawSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A TCP socket and the address of 127.0.0.1:APort; ACall (bind or connect) failing closes it.
template <typename F> RawSocket Made(uint16_t APort, F ACall) {
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

} // namespace

void RawSocket::Close() {
    if (FFd >= 0) {
        ::close(std::exchange(FFd, -1));
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

RawSocket RawSocket::Bound(uint16_t APort, bool AListen) {
    return Made(APort, [&](int AFd, const sockaddr* AAddress) {
        return ::bind(AFd, AAddress, sizeof(sockaddr_in)) == 0 &&
               (!AListen || ::listen(AFd, 16) == 0);
    });
}

RawSocket RawSocket::Connected(uint16_t APort) {
    return Made(APort, [](int AFd, const sockaddr* AAddress) {
        return ::connect(AFd, AAddress, sizeof(sockaddr_in)) == 0;
    });
}

RawSocket RawSocket::Accept(int AMSec) const {
    pollfd wait{FFd, POLLIN, 0};
    if (::poll(&wait, 1, AMSec) != 1) {
        return RawSocket();
    }
    return RawSocket(::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC));
}

std::vector<RawSocket> HoldPortRun(int ACount) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const uint16_t first = FreeLoopbackPort();
        std::vector<RawSocket> run;
        for (int i = 0; first != 0 && first <= 65535 - ACount && i < ACount; ++i) {
            RawSocket socket = RawSocket::Bound(uint16_t(first + i));
            if (!socket.Valid()) {
                break;
            }
            run.push_back(std::move(socket));
        }
        if (int(run.size()) == ACount) {
            return run;
        }
    }
    return {};
}

bool DescriptorOpen(int AFd) {
    return ::fcntl(AFd, F_GETFD) != -1;
}
