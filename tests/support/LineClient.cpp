#include "LineClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

LineClient::LineClient(uint16_t APort) : FSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(APort);
    if (!FSocket.Valid() || ::connect(FSocket.Fd(), reinterpret_cast<const sockaddr*>(&address),
                                      sizeof(address)) != 0) {
        throw std::runtime_error("line client: cannot connect to port " + std::to_string(APort));
    }
}

void LineClient::Send(const std::string& ALine) {
    const std::string bytes = ALine + "\r\n";
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(FSocket.Fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw std::runtime_error("line client: send failed");
        }
        sent += size_t(n);
    }
}

bool LineClient::ReadSome(int AMSec) {
    pollfd wait{FSocket.Fd(), POLLIN, 0};
    if (FClosed || ::poll(&wait, 1, AMSec) != 1) {
        return false;
    }
    char buffer[4096];
    const ssize_t n = ::recv(FSocket.Fd(), buffer, sizeof(buffer), 0);
    if (n <= 0) {
        FClosed = n == 0 || errno != EINTR;
        return false;
    }
    FPartial.append(buffer, size_t(n));
    size_t end;
    while ((end = FPartial.find('\n')) != std::string::npos) {
        const size_t length = end > 0 && FPartial[end - 1] == '\r' ? end - 1 : end;
        FLines.push_back(FPartial.substr(0, length));
        FPartial.erase(0, end + 1);
    }
    return true;
}

std::string LineClient::WaitForLine(const std::string& AText, std::chrono::milliseconds ALimit) {
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    for (size_t line = FNext;;) {
        for (; line < FLines.size(); ++line) {
            if (FLines[line].find(AText) != std::string::npos) {
                FNext = line + 1;
                return FLines[line];
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (FClosed || left.count() <= 0) {
            return "";
        }
        ReadSome(int(left.count()));
    }
}
