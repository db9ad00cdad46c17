#include "LoopbackServer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int MSecLeft(Clock::time_point AUntil) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(AUntil - Clock::now());
    return int(std::max<int64_t>(left.count(), 0));
}

} // namespace

LoopbackServer::LoopbackServer()
    : FListener(RawSocket::Listener()), FWake(RawSocket::Pair()), FPort(FListener.LocalPort()) {
    if (!FListener.Valid() || !FWake.first.Valid()) {
        throw std::runtime_error(std::string("loopback server: ") + std::strerror(errno));
    }
    FThread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    FStop = true;
    Wake();
    FThread.join();
}

LoopbackServer& LoopbackServer::Queue(Action AAction) {
    {
        std::lock_guard lock(FLock);
        FScript.push_back(std::move(AAction));
    }
    Wake();
    return *this;
}

void LoopbackServer::Wake() {
    char byte = 1;
    RawNet::Send(FWake.second.Fd(), &byte, 1); // a full line wakes all the same
}

bool LoopbackServer::WaitUntil(Millis ATimeout, const std::function<bool()>& ADone) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, ADone);
}

void LoopbackServer::Run() {
    while (!FStop) {
        std::unique_lock lock(FLock);
        if (FScript.empty() || !FAccepted) {
            lock.unlock();
            Pump(-1);
            continue;
        }
        // Moved, not copied: a flood's bytes are tens of megabytes. The emptied head stays
        // until the action is done.
        const Action action = std::move(FScript.front());
        lock.unlock();
        const bool done = Perform(action);
        lock.lock();
        done ? FScript.pop_front() : FScript.clear();
        FChanged.notify_all();
    }
}

// Waits up to AMSec (-1: until woken) for a connection, the client's bytes, a wake-up or
// (AWrite) room to send, and takes in what arrived.
void LoopbackServer::Pump(int AMSec, bool AWrite) {
    const bool reading = FClient.Valid() && !FClientClosed;
    RawNet::PollFd fds[] = {{FWake.first.Fd(), RawNet::kIn},
                            {FListener.Fd(), RawNet::kIn},
                            {reading || AWrite ? FClient.Fd() : -1,
                             short((reading ? RawNet::kIn : 0) | (AWrite ? RawNet::kOut : 0))}};
    RawNet::Poll(fds, 3, AMSec);
    char block[65536];
    while (RawNet::Recv(FWake.first.Fd(), block, sizeof block) > 0) {
    }
    if (fds[1].Found) {
        RawSocket accepted = FListener.Accept(0);
        RawNet::SetNonBlocking(accepted.Fd());
        // Each scripted piece leaves at once, not after the previous one's ACK.
        RawNet::SetNoDelay(accepted.Fd());
        (FAccepted ? FLater.emplace_back() : FClient) = std::move(accepted);
        FAccepted = FClient.Valid();
    }
    while (reading && (fds[2].Found & RawNet::kIn)) {
        const int n = RawNet::Recv(FClient.Fd(), block, sizeof block);
        if (n < 0 && RawNet::WouldBlock()) {
            break;
        }
        std::lock_guard lock(FLock);
        n > 0 ? void(FReceived.append(block, size_t(n))) : void(FClientClosed = true);
        FChanged.notify_all();
        if (n <= 0) {
            break;
        }
    }
}

bool LoopbackServer::Perform(const Action& AAction) {
    const int fd = FClient.Fd();
    switch (AAction.Kind) {
    case kSend:
        for (size_t at = 0; at < AAction.Bytes.size();) {
            if (at > 0) {
                for (const auto until = Clock::now() + AAction.Time; MSecLeft(until) > 0;) {
                    Pump(MSecLeft(until));
                }
            }
            const size_t piece = AAction.Chunk == 0 ? AAction.Bytes.size() : AAction.Chunk;
            const size_t end = std::min(AAction.Bytes.size(), at + piece);
            while (at < end && !FStop) {
                const int n = RawNet::Send(fd, AAction.Bytes.data() + at, end - at);
                if (n < 0 && !RawNet::WouldBlock()) {
                    return false;
                }
                n > 0 ? void(at += size_t(n)) : Pump(-1, true);
            }
            if (FStop) {
                return false;
            }
        }
        return true;
    case kWaitFor:
        for (const auto until = Clock::now() + AAction.Time; !FStop;) {
            const size_t at = FReceived.find(AAction.Bytes, FMatchedUpTo);
            if (at != std::string::npos) {
                FMatchedUpTo = at + AAction.Bytes.size();
                return true;
            }
            if (MSecLeft(until) == 0) {
                return false;
            }
            Pump(MSecLeft(until));
        }
        return false;
    case kClose:
        RawNet::ShutdownWrite(fd);
        return true;
    case kReset: {
        RawNet::SetAbortiveClose(fd);
        FClient.Close();
        return true;
    }
    case kNext:
        for (const auto until = Clock::now() + AAction.Time; FLater.empty();) {
            if (FStop || MSecLeft(until) == 0) {
                return false;
            }
            Pump(MSecLeft(until));
        }
        FClient = std::move(FLater.front());
        FLater.erase(FLater.begin());
        std::lock_guard lock(FLock);
        FClientClosed = false;
        return true;
    }
    return true;
}
