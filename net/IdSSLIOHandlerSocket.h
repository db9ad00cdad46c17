// The I/O handler of a TLS client. A socket I/O handler of its own (Transport) carries the
// bytes: it resolves, connects (through a SOCKS proxy too), closes, and wakes a reader blocked
// on the socket when another thread closes it. OpenSSL only turns bytes into records and back,
// in memory; it never touches the socket. So every send goes through the socket handle (no
// SIGPIPE), a descriptor is never reused under a reader, and the connection above cannot tell
// this handler from the plain one.
//
// Verification cannot be switched off: the server's chain is checked against the system's
// trust store (or CAFile, which tests point at their own authority), and its name against the
// host given to ConnectClient, which is also sent as the server name (SNI) unless it is an
// address. Any failure closes the socket and raises an EIdTLSError whose text says why; there
// is no way back to plain text.
//
// Time-outs: the handshake waits at most the handler's ReadTimeout (which the client sets from
// its connection's), or HandshakeTimeout when that is 0, since a window that waits for reads
// without limit must still not hang on a server that stalls in the handshake. After it,
// Readable's wait is kept whole even when only part of a record arrives.
//
// Threads: as with the socket handler, one thread connects and closes, one reader sits in
// Readable and Recv, and the window's thread sends. Reader and sender share the TLS session
// under one lock that is held only for work in memory, never across a wait or a socket call.
// Sends hold a second lock from encryption to the wire, so records leave in the order they were
// made.
#pragma once

#include "IdIOHandler.h"
#include "IdIOHandlerSocket.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TIdSSLIOHandlerSocket : public TIdIOHandler {
public:
    TIdSSLIOHandlerSocket();
    ~TIdSSLIOHandlerSocket() override;

    void Close() override;
    // Connects the transport, then shakes hands and verifies. Reports the transport's statuses
    // and hsStatusText "TLS: ..." once encrypted.
    void ConnectClient(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                       int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                       int32_t ATimeout) override;
    bool Connected() override;
    void Open() override;
    // True when decrypted data, the peer's close or a failure is there for Recv.
    bool Readable(int32_t AMSec) override;
    // Decrypted bytes; 0 once the peer has closed (with or without TLS's own close message);
    // -1 on a socket error, whose code is this thread's LastSocketError. Records that fail their
    // checks close the socket and raise EIdTLSRecordError. EIdClosedSocket after a local close.
    int32_t Recv(void* ABuf, int32_t ALen) override;
    // Encrypts and sends all of ABuf: ALen, or the socket's raw failure.
    int32_t Send(const void* ABuf, int32_t ALen) override;

    // The plain socket handler that carries the records (its Binding, its SocksInfo).
    TIdIOHandlerSocket* Transport() const { return FTransport.get(); }
    TIdSocketHandle* SocketBinding() const override { return FTransport->Binding(); }
    // A file of trusted authorities (PEM) used instead of the system's store; empty: the system's.
    const std::string& CAFile() const { return FCAFile; }
    void SetCAFile(const std::string& AValue) { FCAFile = AValue; }
    int32_t HandshakeTimeout() const { return FHandshakeTimeout; }
    void SetHandshakeTimeout(int32_t AValue) { FHandshakeTimeout = AValue; }
    // The protocol and cipher agreed ("TLSv1.3, TLS_AES_256_GCM_SHA384"), empty before.
    std::string Cipher() const;

    static constexpr int32_t DefaultHandshakeTimeout = 30000;

private:
    struct TSession;

    void Handshake(const std::string& AHost);
    // One receipt from the socket, decrypted into the session (the reader's thread).
    void Pull();
    // Whether Recv has something to report without waiting.
    bool HasNews();
    // Sends what the session has made for the wire; the caller holds FSendLock. 1 when all
    // went, else the socket's raw result (0 or -1).
    int32_t Flush();

    std::unique_ptr<TIdIOHandlerSocket> FTransport;
    std::string FCAFile;
    int32_t FHandshakeTimeout = DefaultHandshakeTimeout;

    mutable std::mutex FLock; // guards FSession and what it holds
    std::unique_ptr<TSession> FSession;
    std::mutex FSendLock;
    std::vector<char> FRaw; // the reader's receipt buffer
};
