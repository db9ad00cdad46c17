#include "TLSPeer.h"

#include "Waiting.h"

#include <openssl/ssl.h>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <sys/time.h>

void TLSPeer::Run() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const RawSocket peer = FListener.Accept(int(TestSupport::HangLimit.count()));
    // Every read gives up in time: a client that never speaks or never closes cannot hold the
    // test in this thread's join.
    const timeval limit{TestSupport::HangLimit.count() / 1000, 0};
    setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char block[4096];
    if (FCertificate.Cert.empty()) {
        ::recv(peer.Fd(), block, sizeof block, 0);
    } else {
        const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()),
                                                                   SSL_CTX_free);
        SSL_CTX_use_certificate_file(context.get(), FCertificate.Cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(context.get(), FCertificate.Key.c_str(), SSL_FILETYPE_PEM);
        const std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(context.get()), SSL_free);
        SSL_set_fd(ssl.get(), peer.Fd());
        if (!peer.Valid() || SSL_accept(ssl.get()) != 1) {
            return;
        }
        SSL_write(ssl.get(), FLines.data(), int(FLines.size()));
    }
    ::send(peer.Fd(), FRaw.data(), FRaw.size(), MSG_NOSIGNAL);
    if (FHalfClose) {
        ::shutdown(peer.Fd(), SHUT_WR);
    }
    while (::recv(peer.Fd(), block, sizeof block, 0) > 0) {
    }
}
