#include "LoopbackServer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("loopback server: ") + what + ": " + std::strerror(errno));
}

int Remaining(Clock::time_point until, Clock::time_point now) {
    return int(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
}

} // namespace

struct LoopbackServer::Action {
    enum Type { kSend, kWaitFor, kClose, kReset, kNextConnection };
    Type Kind;
    std::string Bytes = {};
    size_t Chunk = 0;
    Millis Duration{0};
    bool Started = false;
    size_t Offset = 0;
    size_t ChunkEnd = 0;
    Clock::time_point NotBefore{};
};

struct LoopbackServer::Connection {
    RawSocket Socket;
    std::string Received;
    size_t MatchedUpTo = 0; // where the next WaitFor searches from
    bool ClientClosed = false;
};

LoopbackServer::LoopbackServer() : FListener(RawSocket::Listener()), FPort(FListener.LocalPort()) {
    int flags = fcntl(FListener.Fd(), F_GETFL, 0);
    if (!FListener.Valid() || fcntl(FListener.Fd(), F_SETFL, flags | O_NONBLOCK) < 0) {
        Fail("listener");
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) < 0) {
        Fail("pipe");
    }
    FWakeRead = pipeFds[0];
    FWakeWrite = pipeFds[1];
    FThread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    Wake();
    FThread.join();
    close(FWakeRead);
    close(FWakeWrite);
}

LoopbackServer& LoopbackServer::Queue(Action action) {
    {
        std::lock_guard lock(FLock);
        FScript.push_back(std::move(action));
    }
    Wake();
    return *this;
}

LoopbackServer& LoopbackServer::Send(std::string bytes, size_t chunk, Millis pause) {
    return Queue({Action::kSend, std::move(bytes), chunk, pause});
}
LoopbackServer& LoopbackServer::WaitFor(std::string text, Millis timeout) {
    return Queue({Action::kWaitFor, std::move(text), 0, timeout});
}
LoopbackServer& LoopbackServer::Close() {
    return Queue({Action::kClose});
}
LoopbackServer& LoopbackServer::Reset() {
    return Queue({Action::kReset});
}
LoopbackServer& LoopbackServer::NextConnection() {
    return Queue({Action::kNextConnection});
}

void LoopbackServer::Wake() {
    char byte = 1;
    // A full pipe already guarantees a wake-up.
    [[maybe_unused]] ssize_t ignored = write(FWakeWrite, &byte, 1);
}

bool LoopbackServer::WaitUntil(Millis timeout, const std::function<bool()>& done) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, timeout, done);
}
bool LoopbackServer::WaitScriptDone(Millis timeout) {
    return WaitUntil(timeout, [this] { return FScript.empty(); });
}
bool LoopbackServer::WaitForReceived(const std::string& text, Millis timeout, size_t index) {
    return WaitUntil(timeout, [&] {
        return index < FConnections.size() &&
               FConnections[index]->Received.find(text) != std::string::npos;
    });
}
bool LoopbackServer::WaitForClientClose(Millis timeout, size_t index) {
    return WaitUntil(
        timeout, [&] { return index < FConnections.size() && FConnections[index]->ClientClosed; });
}

std::string LoopbackServer::Received(size_t index) const {
    std::lock_guard lock(FLock);
    return index < FConnections.size() ? FConnections[index]->Received : std::string();
}

size_t LoopbackServer::ConnectionCount() const {
    std::lock_guard lock(FLock);
    return FConnections.size();
}

std::vector<std::string> LoopbackServer::Failures() const {
    std::lock_guard lock(FLock);
    return FFailures;
}

void LoopbackServer::AcceptPending() {
    for (;;) {
        int fd = accept4(FListener.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        // Each scripted piece must leave at once, not wait for the previous one's ACK.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        FConnections.push_back(std::make_unique<Connection>());
        FConnections.back()->Socket = RawSocket(fd);
    }
}

void LoopbackServer::ReadFrom(Connection& connection) {
    char block[65536];
    for (;;) {
        ssize_t n = recv(connection.Socket.Fd(), block, sizeof block, 0);
        if (n > 0) {
            connection.Received.append(block, size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        connection.ClientClosed = true; // end of data, or a reset
        return;
    }
}

int LoopbackServer::Advance() {
    while (!FScript.empty()) {
        Action& action = FScript.front();
        const auto now = Clock::now();
        if (action.Kind == Action::kNextConnection) {
            ++FCurrent;
            FScript.pop_front();
            continue;
        }
        if (FCurrent >= FConnections.size()) {
            return -1; // the accept wakes us
        }
        Connection& connection = *FConnections[FCurrent];
        switch (action.Kind) {
        case Action::kSend: {
            if (now < action.NotBefore) {
                return Remaining(action.NotBefore, now);
            }
            if (connection.Socket.Fd() < 0) {
                FFailures.push_back("send on a closed connection");
                FScript.pop_front();
                continue;
            }
            if (action.ChunkEnd == action.Offset) {
                size_t piece = action.Chunk == 0 ? action.Bytes.size() : action.Chunk;
                action.ChunkEnd = std::min(action.Bytes.size(), action.Offset + piece);
            }
            while (action.Offset < action.ChunkEnd) {
                ssize_t n = send(connection.Socket.Fd(), action.Bytes.data() + action.Offset,
                                 action.ChunkEnd - action.Offset, MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    return -1; // POLLOUT wakes us
                }
                if (n < 0) {
                    FFailures.push_back(std::string("send: ") + std::strerror(errno));
                    action.Offset = action.Bytes.size();
                    break;
                }
                action.Offset += size_t(n);
            }
            if (action.Offset >= action.Bytes.size()) {
                FScript.pop_front();
            } else {
                action.NotBefore = Clock::now() + action.Duration;
            }
            continue;
        }
        case Action::kWaitFor: {
            if (!action.Started) {
                action.Started = true;
                action.NotBefore = now + action.Duration;
            }
            size_t at = connection.Received.find(action.Bytes, connection.MatchedUpTo);
            if (at != std::string::npos) {
                connection.MatchedUpTo = at + action.Bytes.size();
                FScript.pop_front();
                continue;
            }
            if (now >= action.NotBefore) {
                FFailures.push_back("timed out waiting for: " + action.Bytes);
                FScript.clear();
                return -1;
            }
            return Remaining(action.NotBefore, now);
        }
        case Action::kClose:
            if (connection.Socket.Fd() >= 0) {
                shutdown(connection.Socket.Fd(), SHUT_WR);
            }
            FScript.pop_front();
            continue;
        case Action::kReset:
            if (connection.Socket.Valid()) {
                linger hard{1, 0};
                setsockopt(connection.Socket.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                connection.Socket.Close();
            }
            FScript.pop_front();
            continue;
        default:
            FScript.pop_front();
            continue;
        }
    }
    return -1;
}

void LoopbackServer::Run() {
    std::vector<pollfd> fds;
    std::unique_lock lock(FLock);
    while (!FStop) {
        int timeout = Advance();
        FChanged.notify_all();

        const bool sending = !FScript.empty() && FScript.front().Kind == Action::kSend &&
                             FScript.front().Offset < FScript.front().ChunkEnd;
        fds.clear();
        fds.push_back({FWakeRead, POLLIN, 0});
        fds.push_back({FListener.Fd(), POLLIN, 0});
        for (size_t i = 0; i < FConnections.size(); ++i) {
            const Connection& connection = *FConnections[i];
            short events = connection.ClientClosed ? 0 : POLLIN;
            if (sending && i == FCurrent) {
                events |= POLLOUT;
            }
            fds.push_back({connection.Socket.Fd(), events, 0});
        }
        lock.unlock();
        poll(fds.data(), fds.size(), timeout);
        lock.lock();

        char drain[64];
        while (read(FWakeRead, drain, sizeof drain) > 0) {
        }
        if (fds[1].revents & POLLIN) {
            AcceptPending();
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            Connection& connection = *FConnections[i - 2];
            if (connection.Socket.Fd() >= 0 && !connection.ClientClosed &&
                (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                ReadFrom(connection);
            }
        }
    }
}
