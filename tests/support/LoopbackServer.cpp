#include "LoopbackServer.h"

#include "Waiting.h"

#include <cerrno>
#include <netinet/tcp.h>

LoopbackServer::LoopbackServer() : FListener(RawSocket::Listener()), FThread([this] { Serve(); }) {}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
        if (FPeer >= 0) {
            shutdown(FPeer, SHUT_RDWR); // ends a send the client does not read
        }
    }
    FChanged.notify_all();
    FThread.join();
}

// Runs the script's steps in order; between them reads what the client sends, until it closes.
void LoopbackServer::Serve() {
    RawSocket peer;
    std::unique_lock lock(FLock);
    while (!FStop && !peer.Valid()) {
        lock.unlock();
        peer = FListener.Accept(20);
        lock.lock();
    }
    // Each scripted piece must leave at once, not wait for the previous one's ACK.
    int one = 1;
    setsockopt(peer.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FPeer = peer.Fd();
    while (!FStop) {
        if (!FScript.empty()) {
            const auto [kind, bytes] = std::move(FScript.front());
            FScript.pop_front();
            lock.unlock(); // a large send blocks until the client has read it
            for (size_t sent = 0; kind == 's' && sent < bytes.size();) {
                const ssize_t n =
                    send(peer.Fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                sent = n < 0 && errno != EINTR ? bytes.size() : sent + size_t(std::max(n, 0L));
            }
            if (kind == 'c') {
                shutdown(peer.Fd(), SHUT_WR);
            }
            lock.lock();
            if (kind == 'r') {
                linger hard{1, 0};
                setsockopt(peer.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                peer.Close();
                FPeer = -1;
                FClientClosed = true;
            }
        } else if (!FClientClosed) {
            lock.unlock();
            pollfd wait{peer.Fd(), POLLIN, 0};
            char block[4096];
            const ssize_t n =
                poll(&wait, 1, 10) == 1 ? recv(peer.Fd(), block, sizeof block, 0) : -2;
            const bool closed = n == 0 || (n == -1 && errno != EINTR); // the end, or a reset
            lock.lock();
            FReceived.append(block, size_t(std::max(n, 0L)));
            FClientClosed = closed;
        } else {
            FChanged.wait_for(lock, std::chrono::milliseconds(10));
        }
        FChanged.notify_all();
    }
    FPeer = -1;
}

LoopbackServer& LoopbackServer::Queue(char kind, std::string bytes) {
    std::lock_guard lock(FLock);
    FScript.emplace_back(kind, std::move(bytes));
    FChanged.notify_all();
    return *this;
}

bool LoopbackServer::WaitForReceived(const std::string& text) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit,
                             [&] { return FReceived.find(text) != std::string::npos; });
}

bool LoopbackServer::WaitForClientClose() {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit, [&] { return FClientClosed; });
}
