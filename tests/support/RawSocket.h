// Plain BSD sockets on 127.0.0.1 for tests that need a peer or an occupied port the code
// under test does not provide itself. Each socket is closed with its owner.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

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
    uint16_t LocalPort() const; // 0 when the socket has none
    void Close();

    // A TCP socket bound to 127.0.0.1:APort (0 = any free port), listening when AListen;
    // invalid when the port is taken.
    static RawSocket Bound(uint16_t APort, bool AListen = false);
    static RawSocket Listener() { return Bound(0, true); }
    // A TCP socket connected to 127.0.0.1:APort; invalid when the connect fails.
    static RawSocket Connected(uint16_t APort);
    // Accepts one connection, waiting up to AMSec; invalid on time-out.
    RawSocket Accept(int AMSec = 5000) const;

private:
    int FFd = -1;
};

// A port on 127.0.0.1 that was free a moment ago (nothing listens on it now).
inline uint16_t FreeLoopbackPort() {
    return RawSocket::Bound(0).LocalPort();
}

// ACount consecutive ports on 127.0.0.1, held by the returned sockets in order; empty when no
// such run was found.
std::vector<RawSocket> HoldPortRun(int ACount);

// True while AFd is an open descriptor of this process.
bool DescriptorOpen(int AFd);
