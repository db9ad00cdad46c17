#include "LoopbackServer.h"

#include "Waiting.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

LoopbackServer::LoopbackServer() : FListener(RawSocket::Listener()), FPort(FListener.LocalPort()) {
    if (!FListener.Valid() || fcntl(FListener.Fd(), F_SETFL, O_NONBLOCK) < 0 ||
        pipe2(FWake, O_CLOEXEC | O_NONBLOCK) < 0) {
        throw std::runtime_error(std::string("loopback server: ") + std::strerror(errno));
    }
    FThread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    Wake();
    FThread.join();
    close(FWake[0]);
    close(FWake[1]);
}

void LoopbackServer::Wake() {
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(FWake[1], &byte, 1); // a full pipe wakes anyway
}

LoopbackServer& LoopbackServer::Queue(Action action) {
    {
        std::lock_guard lock(FLock);
        FScript.push_back(std::move(action));
    }
    Wake();
    return *this;
}

LoopbackServer& LoopbackServer::Send(std::string bytes) {
    return Queue({Action::kSend, std::move(bytes), 0});
}
LoopbackServer& LoopbackServer::Close() {
    return Queue({Action::kClose, {}, 0});
}
LoopbackServer& LoopbackServer::Reset() {
    return Queue({Action::kReset, {}, 0});
}

bool LoopbackServer::WaitUntil(const std::function<bool()>& done) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit, done);
}
bool LoopbackServer::WaitForReceived(const std::string& text) {
    return WaitUntil([&] { return FReceived.find(text) != std::string::npos; });
}
bool LoopbackServer::WaitForClientClose() {
    return WaitUntil([&] { return FClientClosed; });
}
size_t LoopbackServer::ConnectionCount() const {
    std::lock_guard lock(FLock);
    return FConnections.size();
}

void LoopbackServer::Advance() {
    const int fd = FConnections.front().Fd();
    while (!FScript.empty()) {
        Action& action = FScript.front();
        if (action.Kind == Action::kSend && fd >= 0) {
            const ssize_t n = send(fd, action.Bytes.data() + action.Sent,
                                   action.Bytes.size() - action.Sent, MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                return; // POLLOUT wakes us
            }
            action.Sent = n < 0 ? action.Bytes.size() : action.Sent + size_t(n);
            if (action.Sent < action.Bytes.size()) {
                continue;
            }
        } else if (action.Kind == Action::kClose && fd >= 0) {
            shutdown(fd, SHUT_WR);
        } else if (action.Kind == Action::kReset && fd >= 0) {
            linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            FConnections.front().Close();
            FClientClosed = true;
        }
        FScript.pop_front();
    }
}

void LoopbackServer::Run() {
    std::unique_lock lock(FLock);
    while (!FStop) {
        if (!FConnections.empty()) {
            Advance();
        }
        FChanged.notify_all();
        const int served = FConnections.empty() ? -1 : FConnections.front().Fd();
        const bool sending = !FScript.empty() && FScript.front().Kind == Action::kSend;
        pollfd fds[3] = {{FWake[0], POLLIN, 0},
                         {FListener.Fd(), POLLIN, 0},
                         {FClientClosed ? -1 : served, short(POLLIN | (sending ? POLLOUT : 0)), 0}};
        lock.unlock();
        poll(fds, 3, -1);
        lock.lock();
        char drain[64];
        while (read(FWake[0], drain, sizeof drain) > 0) {
        }
        for (int fd;
             (fd = accept4(FListener.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
            // Each scripted piece must leave at once, not wait for the previous one's ACK.
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            FConnections.emplace_back(fd);
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            char block[65536];
            ssize_t n;
            while ((n = recv(served, block, sizeof block, 0)) > 0) {
                FReceived.append(block, size_t(n));
            }
            FClientClosed = n == 0 || (errno != EAGAIN && errno != EINTR); // closed or reset
        }
    }
}
