// One socket of the stack, with the local and peer addresses it is bound and connected to.
//
// Threads: a reader thread may sit in Readable or Recv (or a connect thread in Connect) while
// another thread calls CloseSocket. On Linux close() does not wake a thread blocked on the
// descriptor, and the number can be handed to the next open() at once, so a blocked call
// could end up waiting on, or reading from, somebody else's file. The handle therefore keeps
// each socket in a small shared record (TSocket) that every call on the descriptor holds for
// the length of the call:
//
//  - CloseSocket marks the handle not allocated at once (new calls fail as on a closed
//    socket), shuts the socket down in both directions, which wakes any call blocked in
//    poll, recv, send or connect, and drops the handle's own reference;
//  - the descriptor is closed by whichever reference goes last: CloseSocket itself when no
//    call is in flight, otherwise the last call to leave. Until then the number stays taken.
//
// Handle and HandleAllocated are read from any thread (atomics); the address fields belong to
// the thread that binds and connects (the connect thread only writes them before it
// publishes its end, see TIdConnectThread).
#pragma once

#include "IdStack.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class TIdSocketHandle {
public:
    TIdSocketHandle();
    virtual ~TIdSocketHandle(); // closes the socket
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Copies IP, Port, PeerIP and PeerPort (not the socket).
    virtual void Assign(const TIdSocketHandle& ASource);

    virtual void CloseSocket();
    // Connects Handle to PeerIP:PeerPort; unless that failed, refreshes the local and peer
    // addresses from the socket. Returns the stack's raw result: a peer that resets during
    // the connect fails it (10054), one that resets just after is found by the first read.
    virtual int32_t Connect(int32_t AFamily = Id_PF_INET);
    // Datagram receive; fills PeerIP and PeerPort from the sender. Raw result.
    virtual int32_t RecvFrom(void* ABuffer, int32_t ALength, int32_t AFlags);

    // Closes any socket still held, then creates a new one (EIdInvalidSocket on failure).
    void AllocateSocket(int32_t ASocketType = Id_SOCK_STREAM, int32_t AProtocol = 0);
    // Binds to IP:Port, or with Port 0 and both range ends set, to the first free port of the
    // range counting down from ClientPortMax.
    void Bind();
    // Waits up to AMSec (or TimeoutInfinite) for data or end of data. Raises
    // EIdConnClosedGracefully when the handle holds no socket.
    bool Readable(int32_t AMSec);
    // Raw stack results: bytes moved, 0 when the peer closed, -1 with the code in the stack's
    // LastSocketError. On a handle that holds no socket they fail as on a closed descriptor.
    int32_t Recv(void* ABuffer, int32_t ALength, int32_t AFlags);
    int32_t Send(const void* ABuffer, int32_t ALength, int32_t AFlags);
    // Raises EIdSocketError when the stack refuses the option.
    void SetSockOpt(int32_t ALevel, int32_t AOptName, const void* AOptVal, int32_t AOptLen);
    void SetPeer(const std::string& AIP, int32_t APort);
    // Forgets the socket (closing it if one is still held) and the peer address; with
    // AResetLocal also the local address and port.
    void Reset(bool AResetLocal = true);
    // Read the local / peer address back from the socket (EIdSocketError on failure).
    void UpdateBindingLocal();
    void UpdateBindingPeer();

    TIdStackSocketHandle Handle() const { return FHandle.load(std::memory_order_acquire); }
    bool HandleAllocated() const { return FHandleAllocated.load(std::memory_order_acquire); }

    const std::string& IP() const { return FIP; }
    void SetIP(const std::string& AValue) { FIP = AValue; }
    int32_t Port() const { return FPort; }
    void SetPort(int32_t AValue) { FPort = AValue; }
    const std::string& PeerIP() const { return FPeerIP; }
    int32_t PeerPort() const { return FPeerPort; }
    int32_t ClientPortMin() const { return FClientPortMin; }
    void SetClientPortMin(int32_t AValue) { FClientPortMin = AValue; }
    int32_t ClientPortMax() const { return FClientPortMax; }
    void SetClientPortMax(int32_t AValue) { FClientPortMax = AValue; }

private:
    struct TSocket;
    // The socket for the length of one call, or null when none is held.
    std::shared_ptr<TSocket> Acquire() const;
    // Forgets the socket: marks the handle not allocated, shuts the socket down and lets the
    // last reference close it.
    void Release();
    bool TryBind();
    // One wait for data of at most AMSec, then the anti-freeze's processing.
    bool WaitReadable(int32_t AMSec);

    mutable std::mutex FLock; // guards FSocket
    std::shared_ptr<TSocket> FSocket;
    std::atomic<TIdStackSocketHandle> FHandle{Id_INVALID_SOCKET};
    std::atomic<bool> FHandleAllocated{false};

    std::string FIP;
    int32_t FPort = 0;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
    int32_t FClientPortMin = 0;
    int32_t FClientPortMax = 0;
};
