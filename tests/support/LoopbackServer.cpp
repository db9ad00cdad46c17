#include "LoopbackServer.h"

#include "Waiting.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

LoopbackServer::LoopbackServer() : FListener(RawSocket::Listener()) {
    FThread = std::thread([this] {
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
        FChanged.notify_all();
        while (FChanged.wait(lock, [this] { return FStop || !FScript.empty(); }), !FStop) {
            const auto [kind, bytes] = std::move(FScript.front());
            FScript.pop_front();
            FBusy = true;
            lock.unlock(); // a large send blocks until the client has read it
            if (kind == 'p') {
                std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(bytes)));
            }
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
            FBusy = false;
            FChanged.notify_all();
        }
        FPeer = -1;
    });
}

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

LoopbackServer& LoopbackServer::Send(std::string bytes, size_t chunk,
                                     std::chrono::milliseconds pause) {
    if (chunk == 0) {
        chunk = std::max<size_t>(bytes.size(), 1);
    }
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        Queue('s', bytes.substr(at, chunk));
        if (pause.count() > 0) {
            Queue('p', std::to_string(pause.count()));
        }
    }
    return *this;
}

bool LoopbackServer::WaitScriptDone() {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, TestSupport::HangLimit,
                             [this] { return FStop || (FScript.empty() && !FBusy); });
}

LoopbackServer& LoopbackServer::Queue(char kind, std::string bytes) {
    std::lock_guard lock(FLock);
    FScript.emplace_back(kind, std::move(bytes));
    FChanged.notify_all();
    return *this;
}

// Reads on the caller's thread until `done` holds, the client has closed, or time is up.
bool LoopbackServer::ReadUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + TestSupport::HangLimit;
    std::unique_lock lock(FLock);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        const int fd = FPeer;
        if (fd < 0 || FClientClosed) {
            FChanged.wait_for(lock, std::chrono::milliseconds(10));
            continue;
        }
        lock.unlock();
        pollfd wait{fd, POLLIN, 0};
        poll(&wait, 1, 10);
        lock.lock();
        if (fd != FPeer) {
            continue; // reset by the script meanwhile
        }
        char block[4096];
        const ssize_t n = recv(fd, block, sizeof block, MSG_DONTWAIT);
        if (n > 0) {
            FReceived.append(block, size_t(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            FClientClosed = true; // end of data, or a reset
        }
    }
    return true;
}

bool LoopbackServer::WaitForReceived(const std::string& text) {
    return ReadUntil([&] { return FReceived.find(text) != std::string::npos; });
}

std::string LoopbackServer::Received() {
    std::lock_guard<std::mutex> lock(FLock);
    return FReceived;
}

bool LoopbackServer::WaitForClientClose() {
    return ReadUntil([&] { return FClientClosed; });
}
