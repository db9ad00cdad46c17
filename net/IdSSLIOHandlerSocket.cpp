#include "IdSSLIOHandlerSocket.h"

#include "IdException.h"
#include "IdGlobal.h"
#include "IdStack.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace {

using TClock = std::chrono::steady_clock;

// A wait of AMSec (negative: without limit) that may be spent in several pieces.
class TDeadline {
public:
    explicit TDeadline(int32_t AMSec)
        : FInfinite(AMSec < 0),
          FEnd(TClock::now() + std::chrono::milliseconds(std::max(0, AMSec))) {}
    // What is left, in the form Readable takes.
    int32_t Remaining() const {
        if (FInfinite) {
            return Id::TimeoutInfinite;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(FEnd - TClock::now()).count();
        return int32_t(std::max<int64_t>(0, left));
    }
    bool Passed() const { return !FInfinite && TClock::now() >= FEnd; }

private:
    bool FInfinite;
    TClock::time_point FEnd;
};

// OpenSSL keeps its errors in a queue per thread: each operation starts from an empty one, and
// the reason of a failure is the last entry.
std::string TakeReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "no reason given";
}

// A TLS peer's first byte starts a record, and is the record's content type: 20 to 24. A
// plain-text IRC server's first line starts with ':' or a letter, far from these.
bool StartsRecord(char AFirst) {
    const auto first = static_cast<unsigned char>(AFirst);
    return first >= 20 && first <= 24;
}

[[noreturn]] void RaiseCertificateError(long AVerify, const std::string& AHost) {
    switch (AVerify) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        throw EIdTLSCertificateError(EIdTLSCertificateError::Untrusted, AHost,
                                     X509_verify_cert_error_string(AVerify));
    case X509_V_ERR_CERT_HAS_EXPIRED:
        throw EIdTLSCertificateError(EIdTLSCertificateError::Expired, AHost);
    case X509_V_ERR_CERT_NOT_YET_VALID:
        throw EIdTLSCertificateError(EIdTLSCertificateError::NotYetValid, AHost);
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        throw EIdTLSCertificateError(EIdTLSCertificateError::NameMismatch, AHost);
    default:
        throw EIdTLSCertificateError(EIdTLSCertificateError::Refused, AHost,
                                     X509_verify_cert_error_string(AVerify));
    }
}

struct TContextFree {
    void operator()(SSL_CTX* AContext) const { SSL_CTX_free(AContext); }
};

} // namespace

// One connection's TLS state: the session, the memory it reads records from (In) and writes
// them to (Out), and what the reader has decrypted but not yet handed out.
struct TIdSSLIOHandlerSocket::TSession {
    TSession() = default;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;
    ~TSession() { SSL_free(Ssl); } // frees In and Out with it

    SSL* Ssl = nullptr;
    BIO* In = nullptr;
    BIO* Out = nullptr;
    bool Established = false;
    std::string Plain; // decrypted, handed out from PlainAt
    size_t PlainAt = 0;
    bool Ended = false;      // the peer closed: Recv reports 0 once Plain is empty
    std::string Failure;     // why records can no longer be read
    int32_t SocketError = 0; // a receive's failure, for Recv to report
    std::string Wire;        // records made, not yet sent

    size_t Buffered() const { return Plain.size() - PlainAt; }

    // Moves what the session wrote for the peer to Wire, in order.
    void TakeOutput() {
        char block[16384];
        for (int n; (n = BIO_read(Out, block, sizeof block)) > 0;) {
            Wire.append(block, size_t(n));
        }
    }

    // Decrypts every whole record received; stops at a partial one, the peer's close message,
    // or a record that fails its checks.
    void Decrypt() {
        for (;;) {
            if (PlainAt == Plain.size()) {
                Plain.clear();
                PlainAt = 0;
            }
            const size_t had = Plain.size();
            Plain.resize(had + 16384);
            ERR_clear_error();
            const int n = SSL_read(Ssl, Plain.data() + had, 16384);
            Plain.resize(had + size_t(std::max(0, n)));
            if (n > 0) {
                continue;
            }
            switch (SSL_get_error(Ssl, n)) {
            case SSL_ERROR_WANT_READ:
                return;
            case SSL_ERROR_ZERO_RETURN:
                Ended = true;
                return;
            default:
                Failure = TakeReason();
                return;
            }
        }
    }
};

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket()
    : FTransport(std::make_unique<TIdIOHandlerSocket>()), FRaw(65536) {
    // The transport's statuses (resolving, connecting) are this handler's.
    FTransport->OnStatus = [this](TIdComponent*, TIdStatus AStatus, const std::string& AText) {
        if (OnStatus) {
            OnStatus(this, AStatus, AText);
        }
    };
}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() {
    TIdSSLIOHandlerSocket::Close();
}

bool TIdSSLIOHandlerSocket::Connected() {
    return FTransport->Connected();
}

void TIdSSLIOHandlerSocket::Open() {
    FTransport->Open();
    std::lock_guard lock(FLock);
    FSession.reset();
}

// No close message is sent: a close comes from any thread, maybe in the middle of a send whose
// records an alert must not cut, and it must never wait on the peer. Closing the socket ends
// the connection for both sides, as it does for the many IRC clients that do the same.
void TIdSSLIOHandlerSocket::Close() {
    TIdIOHandler::Close();
    FTransport->Close();
}

void TIdSSLIOHandlerSocket::ConnectClient(const std::string& AHost, int32_t APort,
                                          const std::string& ABoundIP, int32_t ABoundPort,
                                          int32_t ABoundPortMin, int32_t ABoundPortMax,
                                          int32_t ATimeout) {
    FTransport->SetReadTimeout(ReadTimeout());
    FTransport->ConnectClient(AHost, APort, ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax,
                              ATimeout);
    try {
        Handshake(AHost);
    } catch (...) {
        Close();
        throw;
    }
    DoStatus(hsStatusText,
             "TLS: encrypted (" + Cipher() + "), certificate of " + AHost + " verified.");
}

std::string TIdSSLIOHandlerSocket::Cipher() const {
    std::lock_guard lock(FLock);
    if (!FSession || !FSession->Established) {
        return std::string();
    }
    return std::string(SSL_get_version(FSession->Ssl)) + ", " +
           SSL_CIPHER_get_name(SSL_get_current_cipher(FSession->Ssl));
}

void TIdSSLIOHandlerSocket::Handshake(const std::string& AHost) {
    std::unique_ptr<SSL_CTX, TContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        throw EIdTLSSetupError(EIdTLSSetupError::Library, TakeReason());
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // The peer renegotiating would make records for the wire while the reader decrypts; IRC
    // servers have no use for it.
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    if (FCAFile.empty()) {
        if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
            throw EIdTLSSetupError(EIdTLSSetupError::Library, TakeReason());
        }
    } else if (SSL_CTX_load_verify_locations(context.get(), FCAFile.c_str(), nullptr) != 1) {
        throw EIdTLSSetupError(EIdTLSSetupError::CAFile, FCAFile, TakeReason());
    }

    auto session = std::make_unique<TSession>();
    session->Ssl = SSL_new(context.get());
    session->In = BIO_new(BIO_s_mem());
    session->Out = BIO_new(BIO_s_mem());
    if (session->Ssl == nullptr || session->In == nullptr || session->Out == nullptr) {
        BIO_free(session->In);
        BIO_free(session->Out);
        throw EIdTLSSetupError(EIdTLSSetupError::Library, TakeReason());
    }
    SSL_set_bio(session->Ssl, session->In, session->Out);
    SSL_set_connect_state(session->Ssl);
    // An address is checked against the certificate's addresses and is no server name. A
    // name OpenSSL does not take would leave the certificate's name unchecked: refused.
    bool named = false;
    if (ActiveStack()->IsDottedAddress(AHost)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->Ssl), AHost.c_str()) == 1;
    } else if (!AHost.empty()) {
        SSL_set_hostflags(session->Ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = SSL_set1_host(session->Ssl, AHost.c_str()) == 1 &&
                SSL_set_tlsext_host_name(session->Ssl, AHost.c_str()) == 1;
    }
    if (!named) {
        throw EIdTLSSetupError(EIdTLSSetupError::Library, "no name to check the server against");
    }
    {
        std::lock_guard lock(FLock);
        FSession = std::move(session);
    }

    const TDeadline deadline(ReadTimeout() > 0 ? ReadTimeout() : FHandshakeTimeout);
    bool heard = false;
    for (;;) {
        int result = 0;
        int error = SSL_ERROR_NONE;
        long verify = X509_V_OK;
        std::string reason;
        {
            std::lock_guard lock(FLock);
            TSession& tls = *FSession;
            ERR_clear_error();
            result = SSL_do_handshake(tls.Ssl);
            error = SSL_get_error(tls.Ssl, result);
            if (result != 1 && error != SSL_ERROR_WANT_READ) {
                verify = SSL_get_verify_result(tls.Ssl);
                reason = TakeReason();
            }
            tls.TakeOutput(); // an alert that tells the server why, too
            tls.Established = result == 1;
        }
        int32_t sent = 0;
        {
            std::lock_guard sending(FSendLock);
            sent = Flush();
        }
        if (result != 1 && error != SSL_ERROR_WANT_READ) {
            if (verify != X509_V_OK) {
                RaiseCertificateError(verify, AHost);
            }
            throw EIdTLSHandshakeError(AHost, reason);
        }
        if (sent < 0) {
            ActiveStack()->RaiseSocketError(ActiveStack()->LastSocketError());
        }
        if (sent == 0) {
            throw EIdTLSHandshakeError(AHost, EIdTLSHandshakeError::ServerClosed);
        }
        if (result == 1) {
            return;
        }
        if (!FTransport->Readable(deadline.Remaining())) {
            throw EIdTLSHandshakeTimeout(
                heard ? EIdTLSHandshakeTimeout::Stalled : EIdTLSHandshakeTimeout::Silent, AHost);
        }
        const int32_t count = FTransport->Recv(FRaw.data(), int32_t(FRaw.size()));
        if (count < 0) {
            ActiveStack()->RaiseSocketError(ActiveStack()->LastSocketError());
        }
        if (count == 0) {
            throw EIdTLSHandshakeError(AHost, EIdTLSHandshakeError::ServerClosed);
        }
        if (!heard && !StartsRecord(FRaw[0])) {
            throw EIdTLSNotSpoken(AHost);
        }
        heard = true;
        std::lock_guard lock(FLock);
        BIO_write(FSession->In, FRaw.data(), count);
    }
}

bool TIdSSLIOHandlerSocket::HasNews() {
    std::lock_guard lock(FLock);
    return !FSession || FSession->Buffered() > 0 || FSession->Ended || !FSession->Failure.empty() ||
           FSession->SocketError != 0;
}

void TIdSSLIOHandlerSocket::Pull() {
    // Raises EIdClosedSocket when this side has closed, as the plain handler's Recv does.
    const int32_t count = FTransport->Recv(FRaw.data(), int32_t(FRaw.size()));
    const int32_t error = count < 0 ? ActiveStack()->LastSocketError() : 0;
    bool made = false;
    {
        std::lock_guard lock(FLock);
        if (!FSession) {
            return;
        }
        TSession& tls = *FSession;
        if (count > 0) {
            BIO_write(tls.In, FRaw.data(), count);
            tls.Decrypt();
            // The session may answer what it read (a key update): such records go out with the
            // next send if one is under way now, as they must follow its records.
            tls.TakeOutput();
            made = !tls.Wire.empty();
        } else if (count == 0) {
            tls.Ended = true; // a half record left in In is never whole now
        } else {
            tls.SocketError = error;
        }
    }
    if (made) {
        if (std::unique_lock sending(FSendLock, std::try_to_lock); sending.owns_lock()) {
            Flush();
        }
    }
}

bool TIdSSLIOHandlerSocket::Readable(int32_t AMSec) {
    const TDeadline deadline(AMSec);
    for (;;) {
        if (HasNews()) {
            return true;
        }
        if (!FTransport->Readable(deadline.Remaining())) {
            return false;
        }
        Pull();
        if (deadline.Passed()) {
            return HasNews();
        }
    }
}

int32_t TIdSSLIOHandlerSocket::Recv(void* ABuf, int32_t ALen) {
    if (!Connected()) {
        throw EIdClosedSocket();
    }
    for (;;) {
        std::string failure;
        {
            std::lock_guard lock(FLock);
            if (!FSession) {
                throw EIdClosedSocket();
            }
            TSession& tls = *FSession;
            if (const size_t buffered = tls.Buffered(); buffered > 0) {
                const size_t count = std::min(buffered, size_t(std::max(0, ALen)));
                std::memcpy(ABuf, tls.Plain.data() + tls.PlainAt, count);
                tls.PlainAt += count;
                return int32_t(count);
            }
            if (!tls.Failure.empty()) {
                failure = tls.Failure;
            } else if (tls.SocketError != 0) {
                // The receive that failed ran on the reader's thread, as this call does, and
                // nothing since has touched its code; said again should anything have.
                const int32_t error = std::exchange(tls.SocketError, 0);
                if (ActiveStack()->LastSocketError() != error) {
                    ActiveStack()->RaiseSocketError(error);
                }
                return Id_SOCKET_ERROR;
            } else if (tls.Ended) {
                return 0;
            }
        }
        if (!failure.empty()) {
            Close();
            throw EIdTLSRecordError(failure);
        }
        Pull();
    }
}

int32_t TIdSSLIOHandlerSocket::Send(const void* ABuf, int32_t ALen) {
    if (!Connected()) {
        throw EIdClosedSocket();
    }
    std::lock_guard sending(FSendLock);
    {
        std::lock_guard lock(FLock);
        if (!FSession || !FSession->Established) {
            throw EIdClosedSocket();
        }
        ERR_clear_error();
        if (ALen > 0 && SSL_write(FSession->Ssl, ABuf, ALen) <= 0) {
            const std::string reason = TakeReason();
            throw EIdTLSRecordError(reason);
        }
        FSession->TakeOutput();
    }
    const int32_t result = Flush();
    return result <= 0 ? result : ALen;
}

int32_t TIdSSLIOHandlerSocket::Flush() {
    for (;;) {
        std::string wire;
        {
            std::lock_guard lock(FLock);
            if (!FSession || FSession->Wire.empty()) {
                return 1;
            }
            wire.swap(FSession->Wire);
        }
        for (size_t sent = 0; sent < wire.size();) {
            const int32_t count = FTransport->Send(wire.data() + sent, int32_t(wire.size() - sent));
            if (count <= 0) {
                return count;
            }
            sent += size_t(count);
        }
    }
}
