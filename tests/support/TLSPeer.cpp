#include "TLSPeer.h"

#include "Waiting.h"

#include <openssl/ssl.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <sys/time.h>

bool TLSPeer::WaitClientClosed() {
    return TestSupport::WaitUntil([this] { return FClientClosed.load(); });
}

void TLSPeer::Run() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    RawSocket peer = FListener.Accept(int(TestSupport::HangLimit.count()));
    // Reads give up after a second, so a client that never shakes hands or never sends what
    // is waited for cannot hold this thread past FStop.
    timeval limit{1, 0};
    setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()),
                                                               SSL_CTX_free);
    SSL_CTX_use_certificate_file(context.get(), FCertificate.Cert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context.get(), FCertificate.Key.c_str(), SSL_FILETYPE_PEM);
    const std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), peer.Fd());
    if (!peer.Valid() || SSL_accept(ssl.get()) != 1) {
        return;
    }
    std::string heard;
    char block[4096];
    while (!FWaitFor.empty() && heard.find(FWaitFor) == std::string::npos && !FStop) {
        const int n = SSL_read(ssl.get(), block, sizeof block);
        if (n <= 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return;
        }
        heard.append(block, size_t(std::max(0, n)));
    }
    SSL_write(ssl.get(), FLines.data(), int(FLines.size()));
    ::send(peer.Fd(), FRaw.data(), FRaw.size(), MSG_NOSIGNAL);
    if (FEnd == CloseAll) {
        return; // peer closes
    }
    if (FEnd == HalfClose) {
        ::shutdown(peer.Fd(), SHUT_WR);
    }
    while (!FStop) {
        const ssize_t n = ::recv(peer.Fd(), block, sizeof block, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            FClientClosed = true;
            return;
        }
    }
}
