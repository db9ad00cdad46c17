#include "IdException.h"

#include "IdGlobal.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

EIdInvalidServiceName::EIdInvalidServiceName(const std::string& service)
    : EIdException(Id::Format(Pattern, service.c_str())) {}

EIdCanNotBindPortInRange::EIdCanNotBindPortInRange(int32_t min, int32_t max)
    : EIdSocketHandleError(Id::Format(Pattern, min, max)) {}

EIdInvalidPortRange::EIdInvalidPortRange(int32_t min, int32_t max)
    : EIdSocketHandleError(Id::Format(Pattern, min, max)) {}

EIdReplyTooLong::EIdReplyTooLong(int32_t maxLines, int32_t maxBytes)
    : EIdTCPConnectionError(Id::Format(Pattern, maxLines, maxBytes)) {}

EIdFileNotFound::EIdFileNotFound(const std::string& fileName)
    : EIdTCPConnectionError(Id::Format(Pattern, fileName.c_str())) {}

EIdFileNotReadable::EIdFileNotReadable(const std::string& fileName)
    : EIdTCPConnectionError(Id::Format(Pattern, fileName.c_str())) {}

EIdStreamTooLong::EIdStreamTooLong(int64_t size)
    : EIdTCPConnectionError(Id::Format(Pattern, static_cast<long long>(size))) {}

EIdSocksReplyError::EIdSocksReplyError(const std::string& what)
    : EIdSocksError(Id::Format(Pattern, what.c_str())) {}

EIdSocksSettingError::EIdSocksSettingError(const std::string& what)
    : EIdSocksError(Id::Format(Pattern, what.c_str())) {}

namespace {

// The operating system's own text for an error code.
#ifdef _WIN32
// The codes are Windows system errors (GetLastError after LoadLibrary, for one); the system's
// text ends with a line break, which the exception's one-line text does without.
std::string SystemErrorText(uint32_t code) {
    char buffer[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ')) {
        --length;
    }
    return std::string(buffer, length);
}
#else
// strerror_r keeps it thread-safe.
std::string SystemErrorText(uint32_t code) {
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return text ? text : "";
}
#endif

} // namespace

EIdWS2StubError::EIdWS2StubError(std::string title, uint32_t systemError)
    : EIdWS2StubError(std::move(title), systemError,
                      systemError != 0 ? SystemErrorText(systemError) : std::string()) {}

EIdWS2StubError::EIdWS2StubError(std::string title, uint32_t systemError, std::string systemMessage)
    : EIdException(systemError != 0 ? title + ": " + systemMessage : title),
      FSystemError(systemError), FSystemErrorMessage(std::move(systemMessage)),
      FTitle(std::move(title)) {}

EIdTLSCertificateError::EIdTLSCertificateError(const char* pattern, const std::string& host,
                                               const std::string& detail)
    : EIdTLSError(Id::Format(pattern, host.c_str(), detail.c_str())) {}

EIdTLSNotSpoken::EIdTLSNotSpoken(const std::string& host)
    : EIdTLSError(Id::Format(Pattern, host.c_str())) {}

EIdTLSHandshakeError::EIdTLSHandshakeError(const std::string& host, const std::string& reason)
    : EIdTLSError(Id::Format(Pattern, host.c_str(), reason.c_str())) {}

EIdTLSHandshakeTimeout::EIdTLSHandshakeTimeout(const char* pattern, const std::string& host)
    : EIdReadTimeout(Id::Format(pattern, host.c_str())) {}

EIdTLSRecordError::EIdTLSRecordError(const std::string& reason)
    : EIdTLSError(Id::Format(Pattern, reason.c_str())) {}

EIdTLSSetupError::EIdTLSSetupError(const char* pattern, const std::string& detail,
                                   const std::string& more)
    : EIdTLSError(Id::Format(pattern, detail.c_str(), more.c_str())) {}
