// A TLS server on 127.0.0.1 for one client, on its own thread, for what no real server does or
// does fast enough: after the handshake it waits until the client has sent AWaitFor (if any),
// sends ALines through TLS, then ARaw straight onto the socket (a cut, altered or oversized
// record), and ends as told. It records when the client's side closes. SIGPIPE is blocked on
// its thread only, so a client that goes first cannot end the test program through it, and a
// client's own SIGPIPE would still do so.
#pragma once

#include "RawSocket.h"
#include "TestCertificates.h"

#include <atomic>
#include <string>
#include <thread>

class TLSPeer {
public:
    enum TEnd { KeepOpen, HalfClose, CloseAll };

    TLSPeer(const TestCertificates::TPair& ACertificate, std::string ALines, std::string ARaw = {},
            TEnd AEnd = KeepOpen, std::string AWaitFor = {});
    ~TLSPeer();
    TLSPeer(const TLSPeer&) = delete;
    TLSPeer& operator=(const TLSPeer&) = delete;

    int Port() const { return FListener.LocalPort(); }
    bool WaitClientClosed();

private:
    void Run();

    TestCertificates::TPair FCertificate;
    std::string FLines;
    std::string FRaw;
    TEnd FEnd;
    std::string FWaitFor;
    RawSocket FListener = RawSocket::Listener();
    std::atomic<bool> FClientClosed{false};
    std::atomic<bool> FStop{false};
    std::thread FThread; // last: starts once the fields above exist
};
