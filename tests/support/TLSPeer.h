// A TLS server on 127.0.0.1 for one client, on its own thread, for what no real server does (or
// not fast enough): after the handshake it waits for AWaitFor from the client (if given), sends
// ALines through TLS, then ARaw straight onto the socket (a broken record), and ends as told.
// SIGPIPE is blocked on its own thread only: a client's SIGPIPE still ends the test program.
#pragma once

#include "RawSocket.h"
#include "TestCertificates.h"

#include <atomic>
#include <string>
#include <thread>

class TLSPeer {
public:
    enum TEnd { KeepOpen, HalfClose, CloseAll };

    TLSPeer(TestCertificates::TPair ACertificate, std::string ALines, std::string ARaw = {},
            TEnd AEnd = KeepOpen, std::string AWaitFor = {})
        : FCertificate(std::move(ACertificate)), FLines(std::move(ALines)), FRaw(std::move(ARaw)),
          FEnd(AEnd), FWaitFor(std::move(AWaitFor)), FThread([this] { Run(); }) {}
    ~TLSPeer() {
        FStop = true;
        FThread.join();
    }
    TLSPeer(const TLSPeer&) = delete;
    TLSPeer& operator=(const TLSPeer&) = delete;

    int Port() const { return FListener.LocalPort(); }
    bool WaitClientClosed(); // the client's side of the connection has closed

private:
    void Run();

    TestCertificates::TPair FCertificate;
    std::string FLines, FRaw;
    TEnd FEnd;
    std::string FWaitFor;
    RawSocket FListener = RawSocket::Listener();
    std::atomic<bool> FClientClosed{false}, FStop{false};
    std::thread FThread; // last: starts once the fields above exist
};
