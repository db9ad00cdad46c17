// A server on 127.0.0.1 for one client, on its own thread, for what no real server does (or
// not fast enough). With a certificate it shakes hands and sends ALines through TLS; without
// one it only waits for the client's first bytes. Then it puts ARaw straight onto the socket (a
// broken record, a plain greeting), half-closes with AHalfClose, and reads until the client
// closes. SIGPIPE is blocked on its own thread only: a client's still ends the test program.
#pragma once

#include "RawSocket.h"
#include "TestCertificates.h"

#include <string>
#include <thread>

class TLSPeer {
public:
    TLSPeer(TestCertificates::TPair ACertificate, std::string ALines, std::string ARaw = {},
            bool AHalfClose = false)
        : FCertificate(std::move(ACertificate)), FLines(std::move(ALines)), FRaw(std::move(ARaw)),
          FHalfClose(AHalfClose), FThread([this] { Run(); }) {}
    ~TLSPeer() { FThread.join(); }

    int Port() const { return FListener.LocalPort(); }

private:
    void Run();

    TestCertificates::TPair FCertificate;
    std::string FLines, FRaw;
    bool FHalfClose;
    RawSocket FListener = RawSocket::Listener();
    std::thread FThread; // last: starts once the fields above exist
};
