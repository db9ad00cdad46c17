#include "IdSocketErrors.h"

#include <cerrno>
#include <iterator>

namespace Id {

namespace {

// On Windows the platform's socket errors are these codes already: each row's native error is
// its own code, and the POSIX names (some of which that platform lacks) are not used.
#ifdef _WIN32
#define ROW(code, posix, message)                                                                  \
    { code, #code, code, message }
#else
#define ROW(code, posix, message)                                                                  \
    { code, #code, posix, message }
#endif

// The code-to-message table. The texts are fixed, character for character: 10035 keeps its
// trailing blank and 10066 has no full stop. 11001 is in the table for its native mapping
// only; its text "Host not found." belongs to the stack class (see TIdStackPosix).
const TIdSocketErrorInfo kTable[] = {
    ROW(WSAEINTR, EINTR, "Interrupted system call."),
    ROW(WSAEBADF, EBADF, "Bad file number."),
    ROW(WSAEACCES, EACCES, "Access denied."),
    ROW(WSAEFAULT, EFAULT, "Bad address."),
    ROW(WSAEINVAL, EINVAL, "Invalid argument."),
    ROW(WSAEMFILE, EMFILE, "Too many open files."),
    ROW(WSAEWOULDBLOCK, EWOULDBLOCK, "Operation would block. "),
    ROW(WSAEINPROGRESS, EINPROGRESS, "Operation now in progress."),
    ROW(WSAEALREADY, EALREADY, "Operation already in progress."),
    ROW(WSAENOTSOCK, ENOTSOCK, "Socket operation on non-socket."),
    ROW(WSAEDESTADDRREQ, EDESTADDRREQ, "Destination address required."),
    ROW(WSAEMSGSIZE, EMSGSIZE, "Message too long."),
    ROW(WSAEPROTOTYPE, EPROTOTYPE, "Protocol wrong type for socket."),
    ROW(WSAENOPROTOOPT, ENOPROTOOPT, "Bad protocol option."),
    ROW(WSAEPROTONOSUPPORT, EPROTONOSUPPORT, "Protocol not supported."),
    ROW(WSAESOCKTNOSUPPORT, ESOCKTNOSUPPORT, "Socket type not supported."),
    ROW(WSAEOPNOTSUPP, EOPNOTSUPP, "Operation not supported on socket."),
    ROW(WSAEPFNOSUPPORT, EPFNOSUPPORT, "Protocol family not supported."),
    ROW(WSAEAFNOSUPPORT, EAFNOSUPPORT, "Address family not supported by protocol family."),
    ROW(WSAEADDRINUSE, EADDRINUSE, "Address already in use."),
    ROW(WSAEADDRNOTAVAIL, EADDRNOTAVAIL, "Cannot assign requested address."),
    ROW(WSAENETDOWN, ENETDOWN, "Network is down."),
    ROW(WSAENETUNREACH, ENETUNREACH, "Network is unreachable."),
    ROW(WSAENETRESET, ENETRESET, "Net dropped connection or reset."),
    ROW(WSAECONNABORTED, ECONNABORTED, "Software caused connection abort."),
    ROW(WSAECONNRESET, ECONNRESET, "Connection reset by peer."),
    ROW(WSAENOBUFS, ENOBUFS, "No buffer space available."),
    ROW(WSAEISCONN, EISCONN, "Socket is already connected."),
    ROW(WSAENOTCONN, ENOTCONN, "Socket is not connected."),
    ROW(WSAESHUTDOWN, ESHUTDOWN, "Cannot send or receive after socket is closed."),
    ROW(WSAETOOMANYREFS, ETOOMANYREFS, "Too many references, cannot splice."),
    ROW(WSAETIMEDOUT, ETIMEDOUT, "Connection timed out."),
    ROW(WSAECONNREFUSED, ECONNREFUSED, "Connection refused."),
    ROW(WSAELOOP, ELOOP, "Too many levels of symbolic links."),
    ROW(WSAENAMETOOLONG, ENAMETOOLONG, "File name too long."),
    ROW(WSAEHOSTDOWN, EHOSTDOWN, "Host is down."),
    ROW(WSAEHOSTUNREACH, EHOSTUNREACH, "No route to host."),
    ROW(WSAENOTEMPTY, ENOTEMPTY, "Directory not empty"),
    ROW(WSANOTINITIALISED, 0, ""),
    ROW(WSAHOST_NOT_FOUND, 0, ""),
    ROW(WSATRY_AGAIN, 0, ""),
    ROW(WSANO_RECOVERY, 0, ""),
    ROW(WSANO_DATA, 0, ""),
};

#undef ROW

#ifndef _WIN32
// Native errors that have no row of their own but share the meaning of one:
// - EAGAIN is EWOULDBLOCK's other name (the same number on Linux, not on every system).
// - EPIPE is a send on a connection whose sending side is already closed (by our own
//   shutdown, or by the peer's reset): "Cannot send or receive after socket is closed."
//   states exactly that, where "Software caused connection abort." would blame the stack.
// - ENOMEM and ENFILE are the system running out of memory or descriptors, which the
//   Winsock numbering reports as no buffer space and too many open files.
// - EPERM is a local rule (a firewall) refusing the operation: access denied.
// - ENOTSUP is EOPNOTSUPP's other name.
const struct {
    int Native;
    int32_t Code;
} kAliases[] = {
    {EAGAIN, WSAEWOULDBLOCK}, {EPIPE, WSAESHUTDOWN}, {ENOMEM, WSAENOBUFS},
    {ENFILE, WSAEMFILE},      {EPERM, WSAEACCES},    {ENOTSUP, WSAEOPNOTSUPP},
};
#endif

} // namespace

const TIdSocketErrorInfo* SocketErrorTable(int& count) {
    count = static_cast<int>(std::size(kTable));
    return kTable;
}

const char* SocketErrorMessage(int32_t code) {
    for (const TIdSocketErrorInfo& row : kTable) {
        if (row.Code == code) {
            return row.Message;
        }
    }
    return "";
}

int32_t SocketErrorFromNative(int nativeError) {
    if (nativeError == 0) {
        return 0;
    }
    for (const TIdSocketErrorInfo& row : kTable) {
        if (row.Native == nativeError) {
            return row.Code;
        }
    }
#ifndef _WIN32
    for (const auto& alias : kAliases) {
        if (alias.Native == nativeError) {
            return alias.Code;
        }
    }
#endif
    return nativeError;
}

} // namespace Id
