// Plain BSD sockets on 127.0.0.1, for a peer or an occupied port; closed with their owner.
// On Windows they are Winsock's, linked directly: only the product's stack must load the
// library at run time. A socket's number is an int on both (Winsock's handles fit), so tests
// hand it to the stack alike. This header names no platform header: Winsock's would turn the
// transport's own error names (Id::WSAEINVAL and the rest) into its macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace RawNet {

// What Poll waits for on a socket, and what it found: kIn also when the peer closed, reset or
// failed (a read then says which), kOut when there is room to send.
inline constexpr short kIn = 1;
inline constexpr short kOut = 2;
struct PollFd {
    int Fd;
    short Events;
    short Found = 0;
};
// Like poll(): AFds with negative numbers are left out. The number of sockets found, 0 after
// AMSec (-1: no limit), -1 on failure.
int Poll(PollFd* AFds, size_t ACount, int AMSec);

// One call each, never raising a signal; -1 on failure.
int Send(int AFd, const void* AData, size_t ALength);
int Recv(int AFd, void* ABuffer, size_t ALength);
int ShutdownWrite(int AFd);
int Listen(int AFd, int ABacklog);
// Whether the last failed call of this thread only found nothing to do yet (no data, no room).
bool WouldBlock();
bool SetNonBlocking(int AFd);
bool SetNoDelay(int AFd);
// The next close resets the connection instead of ending it in order.
bool SetAbortiveClose(int AFd);
// The bytes that arrived and were not read yet, or -1.
int Pending(int AFd);
// Whether AFd names an open socket (or, on POSIX, any open descriptor).
bool DescriptorOpen(int AFd);

// Whether the sockets are wine's (the Windows build run under wine on Linux). They differ from
// Windows' where a test needs this:
bool UnderWine();
inline constexpr const char* kWineResetReadsAsEnd =
    "wine reads a reset that arrived before the read as the end of data (recv returns 0 where "
    "Windows returns 10054), so a reset cannot be told from a close under wine";

} // namespace RawNet

using RawNet::DescriptorOpen;

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
    void Close();
    uint16_t LocalPort() const;

    // Bound to 127.0.0.1:APort (0: any free port); invalid when the port is taken.
    static RawSocket Bound(uint16_t APort, bool AListen = false);
    static RawSocket Listener() { return Bound(0, true); }
    static RawSocket Connected(uint16_t APort);
    // Accepts one connection, waiting up to AMSec; invalid on time-out.
    RawSocket Accept(int AMSec = 5000) const;
    // Two ends of one connection, neither blocking: a wake-up line for a thread in a Poll.
    static std::pair<RawSocket, RawSocket> Pair();

private:
    int FFd = -1;
};

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it now).
inline uint16_t FreeLoopbackPort() {
    return RawSocket::Bound(0).LocalPort();
}
