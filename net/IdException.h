// The transport's exception classes and their fixed message texts.
//
// Every failure of the transport reaches its caller as one of these. The texts below are the
// ones users and callers see and compare; keep them character for character.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class EIdException : public std::exception {
public:
    explicit EIdException(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// Declares a class whose whole content is its base and, when given, its one fixed text.
#define ID_EXCEPTION_BASE(Name, Base)                                                              \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }
#define ID_EXCEPTION_TEXT(Name, Base, Text)                                                        \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        static constexpr const char* DefaultText = Text;                                           \
        Name() : Base(Text) {}                                                                     \
        explicit Name(std::string message) : Base(std::move(message)) {}                           \
    }

// Reports an expected end (a peer that closed) rather than a fault.
ID_EXCEPTION_BASE(EIdSilentException, EIdException);
ID_EXCEPTION_TEXT(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.");
ID_EXCEPTION_TEXT(EIdAlreadyConnected, EIdException, "Already connected.");
ID_EXCEPTION_TEXT(EIdClosedSocket, EIdException, "Disconnected.");
ID_EXCEPTION_TEXT(EIdReadTimeout, EIdException, "Read Timeout");
ID_EXCEPTION_TEXT(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
ID_EXCEPTION_TEXT(EIdConnectTimeout, EIdException, "Connect timed out.");
// Carries the text of the error that the connect thread caught.
ID_EXCEPTION_BASE(EIdConnectException, EIdException);
ID_EXCEPTION_TEXT(EIdInvalidSocket, EIdException, "Cannot allocate socket.");

class EIdInvalidServiceName : public EIdException {
public:
    static constexpr const char* Pattern = "%s is not a valid service.";
    explicit EIdInvalidServiceName(const std::string& service);
};

// An exception class as a value, for operations that raise a class chosen by the caller:
// RaiseAs<EIdSocksError> raises that class with the given text.
using EIdExceptionClass = void (*)(const std::string& AMessage);
template <typename E> [[noreturn]] void RaiseAs(const std::string& AMessage) {
    throw E(AMessage);
}

class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int32_t replyErrorCode, std::string text)
        : EIdException(std::move(text)), FReplyErrorCode(replyErrorCode) {}
    int32_t ReplyErrorCode() const noexcept { return FReplyErrorCode; }

private:
    int32_t FReplyErrorCode;
};

// A failed socket call: the Winsock-numbered code and "Socket Error # %d\r\n%s".
class EIdSocketError : public EIdException {
public:
    static constexpr const char* Pattern = "Socket Error # %d\r\n%s";
    EIdSocketError(int32_t lastError, std::string text)
        : EIdException(std::move(text)), FLastError(lastError) {}
    int32_t LastError() const noexcept { return FLastError; }

private:
    int32_t FLastError;
};

// Socket library loading and binding. The text is the title, or "title: system text" when
// a system code is given.
class EIdWS2StubError : public EIdException {
public:
    EIdWS2StubError(std::string title, uint32_t systemError);
    uint32_t SystemError() const noexcept { return FSystemError; }
    const std::string& SystemErrorMessage() const noexcept { return FSystemErrorMessage; }
    const std::string& Title() const noexcept { return FTitle; }

private:
    EIdWS2StubError(std::string title, uint32_t systemError, std::string systemMessage);
    uint32_t FSystemError;
    std::string FSystemErrorMessage;
    std::string FTitle;
};

ID_EXCEPTION_BASE(EIdStackError, EIdException);
ID_EXCEPTION_TEXT(EIdStackInitializationFailed, EIdStackError, "Winsock Initialization Error.");
ID_EXCEPTION_TEXT(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");

ID_EXCEPTION_BASE(EIdSocketHandleError, EIdException);
ID_EXCEPTION_TEXT(EIdCouldNotBindSocket, EIdSocketHandleError,
                  "Could not bind socket. Address and port are already in use.");

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
    static constexpr const char* Pattern = "Can not bind in port range (%d - %d)";
    EIdCanNotBindPortInRange(int32_t min, int32_t max);
};

class EIdInvalidPortRange : public EIdSocketHandleError {
public:
    static constexpr const char* Pattern = "Invalid Port Range (%d - %d)";
    EIdInvalidPortRange(int32_t min, int32_t max);
};

ID_EXCEPTION_BASE(EIdTCPConnectionError, EIdException);
ID_EXCEPTION_TEXT(EIdNotEnoughDataInBuffer, EIdTCPConnectionError, "Not enough data in buffer.");
ID_EXCEPTION_TEXT(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");
ID_EXCEPTION_TEXT(EIdNotConnected, EIdTCPConnectionError, "Not Connected");

// A numeric reply longer than a connection reads as one (the reader's own limit, so that a
// peer cannot make one reply take without bound).
class EIdReplyTooLong : public EIdTCPConnectionError {
public:
    static constexpr const char* Pattern = "Reply longer than %d lines or %d bytes.";
    EIdReplyTooLong(int32_t maxLines, int32_t maxBytes);
};

class EIdFileNotFound : public EIdTCPConnectionError {
public:
    static constexpr const char* Pattern = "File \"%s\" not found";
    explicit EIdFileNotFound(const std::string& fileName);
};

// A file that exists but cannot be opened for reading.
class EIdFileNotReadable : public EIdTCPConnectionError {
public:
    static constexpr const char* Pattern = "File \"%s\" cannot be read";
    explicit EIdFileNotReadable(const std::string& fileName);
};

// A stream whose byte count does not fit the 4 bytes it is sent in.
class EIdStreamTooLong : public EIdTCPConnectionError {
public:
    static constexpr const char* Pattern = "Stream of %lld bytes is too long to send its size.";
    explicit EIdStreamTooLong(int64_t size);
};

ID_EXCEPTION_BASE(EIdThreadException, EIdException);
ID_EXCEPTION_TEXT(EIdThreadTerminateAndWaitFor, EIdThreadException,
                  "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
// This platform's own thread and hand-off failures (misuse that would otherwise hang).
ID_EXCEPTION_TEXT(EIdThreadWaitForSelf, EIdThreadException, "A thread cannot wait for itself.");
ID_EXCEPTION_TEXT(EIdSyncCallDiscarded, EIdThreadException, "Synchronized call discarded.");
ID_EXCEPTION_TEXT(EIdNoMainThread, EIdThreadException,
                  "No main thread to run a synchronized call.");
ID_EXCEPTION_TEXT(EIdNotMainThread, EIdThreadException,
                  "Synchronized calls can only be run on the main thread.");
ID_EXCEPTION_TEXT(EIdSyncCallPosted, EIdThreadException, "Synchronized call already posted.");

// SOCKS negotiation failures.
ID_EXCEPTION_BASE(EIdSocksError, EIdException);
ID_EXCEPTION_TEXT(EIdSocksRequestFailed, EIdSocksError, "Request rejected or failed.");
ID_EXCEPTION_TEXT(EIdSocksRequestServerFailed, EIdSocksError,
                  "Request rejected because SOCKS server cannot connect.");
ID_EXCEPTION_TEXT(EIdSocksRequestIdentFailed, EIdSocksError,
                  "Request rejected because the client program and identd report different "
                  "user-ids.");
ID_EXCEPTION_TEXT(EIdSocksUnknownError, EIdSocksError, "Unknown socks error.");
ID_EXCEPTION_TEXT(EIdSocksServerRespondError, EIdSocksError, "Socks server did not respond.");
ID_EXCEPTION_TEXT(EIdSocksAuthMethodError, EIdSocksError, "Invalid socks authentication method.");
ID_EXCEPTION_TEXT(EIdSocksAuthError, EIdSocksError, "Authentication error to socks server.");
ID_EXCEPTION_TEXT(EIdSocksServerGeneralError, EIdSocksError, "General SOCKS server failure.");
ID_EXCEPTION_TEXT(EIdSocksServerPermissionError, EIdSocksError,
                  "Connection not allowed by ruleset.");
ID_EXCEPTION_TEXT(EIdSocksServerNetUnreachableError, EIdSocksError, "Network unreachable.");
ID_EXCEPTION_TEXT(EIdSocksServerHostUnreachableError, EIdSocksError, "Host unreachable.");
ID_EXCEPTION_TEXT(EIdSocksServerConnectionRefusedError, EIdSocksError, "Connection refused.");
ID_EXCEPTION_TEXT(EIdSocksServerTTLExpiredError, EIdSocksError, "TTL expired.");
ID_EXCEPTION_TEXT(EIdSocksServerCommandError, EIdSocksError, "Command not supported.");
ID_EXCEPTION_TEXT(EIdSocksServerAddressError, EIdSocksError, "Address type not supported.");

// A proxy reply that breaks the protocol (a wrong version byte, an unknown address type, more
// bytes than the step allows): what was wrong is named in the text.
class EIdSocksReplyError : public EIdSocksError {
public:
    static constexpr const char* Pattern = "Invalid reply from socks server: %s.";
    explicit EIdSocksReplyError(const std::string& what);
};

// A setting that does not fit the request (a name over its one-byte length, a zero byte in a
// zero-terminated field, a port outside 0-65535). Refused before anything is sent: the
// protocol would otherwise cut it silently.
class EIdSocksSettingError : public EIdSocksError {
public:
    static constexpr const char* Pattern = "Invalid socks request: %s.";
    explicit EIdSocksSettingError(const std::string& what);
};

// TLS. Every failure of a secure connection says why it was refused; the first %s is the host
// as the caller gave it. The socket is closed before any of these is raised, and nothing is
// ever sent in plain text instead.
ID_EXCEPTION_BASE(EIdTLSError, EIdException);

// The server's certificate was refused by the verification.
class EIdTLSCertificateError : public EIdTLSError {
public:
    static constexpr const char* Untrusted =
        "TLS: the certificate of %s is not from a trusted authority (%s).";
    static constexpr const char* Expired = "TLS: the certificate of %s has expired.";
    static constexpr const char* NotYetValid = "TLS: the certificate of %s is not valid yet.";
    static constexpr const char* NameMismatch =
        "TLS: the certificate presented by %s is for another name: the name does not match.";
    static constexpr const char* Refused = "TLS: the certificate of %s was refused (%s).";
    EIdTLSCertificateError(const char* pattern, const std::string& host,
                           const std::string& detail = std::string());
};

// The peer answered, but not with TLS: a plain-text server on the port.
class EIdTLSNotSpoken : public EIdTLSError {
public:
    static constexpr const char* Pattern =
        "TLS: %s does not speak TLS on this port: it answered in plain text.";
    explicit EIdTLSNotSpoken(const std::string& host);
};

class EIdTLSHandshakeError : public EIdTLSError {
public:
    static constexpr const char* Pattern = "TLS handshake with %s failed: %s.";
    static constexpr const char* ServerClosed = "the server closed the connection";
    EIdTLSHandshakeError(const std::string& host, const std::string& reason);
};

// A handshake that outlasts its time-out. A read time-out, so callers that handle those
// handle this one too.
class EIdTLSHandshakeTimeout : public EIdReadTimeout {
public:
    static constexpr const char* Silent =
        "TLS handshake with %s timed out: the server sent nothing (is this a TLS port?).";
    static constexpr const char* Stalled =
        "TLS handshake with %s timed out waiting for the server.";
    EIdTLSHandshakeTimeout(const char* pattern, const std::string& host);
};

// Records that fail their checks once the connection is up (altered, cut or oversized data).
class EIdTLSRecordError : public EIdTLSError {
public:
    static constexpr const char* Pattern = "TLS: the data from the server failed its checks (%s).";
    explicit EIdTLSRecordError(const std::string& reason);
};

class EIdTLSSetupError : public EIdTLSError {
public:
    static constexpr const char* CAFile =
        "TLS: cannot read the certificate authorities in %s (%s).";
    static constexpr const char* Library = "TLS: cannot set up the secure connection (%s).";
    EIdTLSSetupError(const char* pattern, const std::string& detail,
                     const std::string& more = std::string());
};

#undef ID_EXCEPTION_BASE
#undef ID_EXCEPTION_TEXT
