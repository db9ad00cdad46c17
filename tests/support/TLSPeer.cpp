#include "TLSPeer.h"

#include "Waiting.h"

#include <openssl/ssl.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <pthread.h>
#include <sys/time.h>

namespace {

struct TFree {
    void operator()(SSL_CTX* AContext) const { SSL_CTX_free(AContext); }
    void operator()(SSL* ASsl) const { SSL_free(ASsl); }
};

} // namespace

TLSPeer::TLSPeer(const TestCertificates::TPair& ACertificate, std::string ALines, std::string ARaw,
                 TEnd AEnd, std::string AWaitFor)
    : FCertificate(ACertificate), FLines(std::move(ALines)), FRaw(std::move(ARaw)), FEnd(AEnd),
      FWaitFor(std::move(AWaitFor)), FThread([this] { Run(); }) {}

TLSPeer::~TLSPeer() {
    FStop = true;
    FThread.join();
}

bool TLSPeer::WaitClientClosed() {
    return TestSupport::WaitUntil([this] { return FClientClosed.load(); });
}

void TLSPeer::Run() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    RawSocket peer = FListener.Accept(int(TestSupport::HangLimit.count()));
    if (!peer.Valid()) {
        return;
    }
    // Each read gives up after a second, so a client that never shakes hands or never sends
    // what is waited for cannot hold this thread, and FStop is looked at.
    timeval limit{1, 0};
    setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::unique_ptr<SSL_CTX, TFree> context(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_use_certificate_file(context.get(), FCertificate.Cert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context.get(), FCertificate.Key.c_str(), SSL_FILETYPE_PEM);
    std::unique_ptr<SSL, TFree> ssl(SSL_new(context.get()));
    SSL_set_fd(ssl.get(), peer.Fd());
    if (SSL_accept(ssl.get()) != 1) {
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
    if (!FLines.empty()) {
        SSL_write(ssl.get(), FLines.data(), int(FLines.size()));
    }
    ::send(peer.Fd(), FRaw.data(), FRaw.size(), MSG_NOSIGNAL);
    if (FEnd == HalfClose) {
        ::shutdown(peer.Fd(), SHUT_WR);
    } else if (FEnd == CloseAll) {
        peer.Close();
        return;
    }
    while (!FStop) {
        const ssize_t n = ::recv(peer.Fd(), block, sizeof block, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            FClientClosed = true;
            return;
        }
    }
}
