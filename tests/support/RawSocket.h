// Plain BSD sockets on 127.0.0.1 for tests that need a peer or an occupied port the code
// under test does not provide itself. Each socket is closed with its owner.
#pragma once

#include <cstdint>
#include <vector>

class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int AFd) : FFd(AFd) {}
    ~RawSocket();
    RawSocket(RawSocket&& AOther) noexcept;
    RawSocket& operator=(RawSocket&& AOther) noexcept;
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    int Fd() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // The local port (0 when the socket has none).
    uint16_t LocalPort() const;
    void Close();

    // A TCP socket bound to 127.0.0.1:APort (0 = any free port); listening with ABacklog
    // when AListen. Invalid when the port is taken.
    static RawSocket Bound(uint16_t APort, bool AListen = false, int ABacklog = 16);
    static RawSocket Listener(int ABacklog = 16) { return Bound(0, true, ABacklog); }
    // A TCP socket connected to 127.0.0.1:APort; invalid when the connect fails.
    static RawSocket Connected(uint16_t APort);
    // Accepts one connection, waiting up to AMSec; invalid on time-out.
    RawSocket Accept(int AMSec = 5000) const;

private:
    int FFd = -1;
};

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it now).
uint16_t FreeLoopbackPort();

// Holds ACount consecutive ports on 127.0.0.1, all bound by the returned sockets in order
// (first port first). Empty when no such run was found.
std::vector<RawSocket> HoldPortRun(int ACount);

// True while AFd is an open descriptor of this process.
bool DescriptorOpen(int AFd);
