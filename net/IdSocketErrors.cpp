#include "IdSocketErrors.h"

#include <cerrno>
#include <iterator>

namespace Id {

namespace {

// The code-to-message table. The texts are fixed, character for character: 10035 keeps its
// trailing blank and 10066 has no full stop. 11001 is in the table for its native mapping
// only; its text "Host not found." belongs to the stack class (see TIdStackPosix).
const TIdSocketErrorInfo kTable[] = {
    {WSAEINTR, "WSAEINTR", EINTR, "Interrupted system call."},
    {WSAEBADF, "WSAEBADF", EBADF, "Bad file number."},
    {WSAEACCES, "WSAEACCES", EACCES, "Access denied."},
    {WSAEFAULT, "WSAEFAULT", EFAULT, "Bad address."},
    {WSAEINVAL, "WSAEINVAL", EINVAL, "Invalid argument."},
    {WSAEMFILE, "WSAEMFILE", EMFILE, "Too many open files."},
    {WSAEWOULDBLOCK, "WSAEWOULDBLOCK", EWOULDBLOCK, "Operation would block. "},
    {WSAEINPROGRESS, "WSAEINPROGRESS", EINPROGRESS, "Operation now in progress."},
    {WSAEALREADY, "WSAEALREADY", EALREADY, "Operation already in progress."},
    {WSAENOTSOCK, "WSAENOTSOCK", ENOTSOCK, "Socket operation on non-socket."},
    {WSAEDESTADDRREQ, "WSAEDESTADDRREQ", EDESTADDRREQ, "Destination address required."},
    {WSAEMSGSIZE, "WSAEMSGSIZE", EMSGSIZE, "Message too long."},
    {WSAEPROTOTYPE, "WSAEPROTOTYPE", EPROTOTYPE, "Protocol wrong type for socket."},
    {WSAENOPROTOOPT, "WSAENOPROTOOPT", ENOPROTOOPT, "Bad protocol option."},
    {WSAEPROTONOSUPPORT, "WSAEPROTONOSUPPORT", EPROTONOSUPPORT, "Protocol not supported."},
    {WSAESOCKTNOSUPPORT, "WSAESOCKTNOSUPPORT", ESOCKTNOSUPPORT, "Socket type not supported."},
    {WSAEOPNOTSUPP, "WSAEOPNOTSUPP", EOPNOTSUPP, "Operation not supported on socket."},
    {WSAEPFNOSUPPORT, "WSAEPFNOSUPPORT", EPFNOSUPPORT, "Protocol family not supported."},
    {WSAEAFNOSUPPORT, "WSAEAFNOSUPPORT", EAFNOSUPPORT,
     "Address family not supported by protocol family."},
    {WSAEADDRINUSE, "WSAEADDRINUSE", EADDRINUSE, "Address already in use."},
    {WSAEADDRNOTAVAIL, "WSAEADDRNOTAVAIL", EADDRNOTAVAIL, "Cannot assign requested address."},
    {WSAENETDOWN, "WSAENETDOWN", ENETDOWN, "Network is down."},
    {WSAENETUNREACH, "WSAENETUNREACH", ENETUNREACH, "Network is unreachable."},
    {WSAENETRESET, "WSAENETRESET", ENETRESET, "Net dropped connection or reset."},
    {WSAECONNABORTED, "WSAECONNABORTED", ECONNABORTED, "Software caused connection abort."},
    {WSAECONNRESET, "WSAECONNRESET", ECONNRESET, "Connection reset by peer."},
    {WSAENOBUFS, "WSAENOBUFS", ENOBUFS, "No buffer space available."},
    {WSAEISCONN, "WSAEISCONN", EISCONN, "Socket is already connected."},
    {WSAENOTCONN, "WSAENOTCONN", ENOTCONN, "Socket is not connected."},
    {WSAESHUTDOWN, "WSAESHUTDOWN", ESHUTDOWN, "Cannot send or receive after socket is closed."},
    {WSAETOOMANYREFS, "WSAETOOMANYREFS", ETOOMANYREFS, "Too many references, cannot splice."},
    {WSAETIMEDOUT, "WSAETIMEDOUT", ETIMEDOUT, "Connection timed out."},
    {WSAECONNREFUSED, "WSAECONNREFUSED", ECONNREFUSED, "Connection refused."},
    {WSAELOOP, "WSAELOOP", ELOOP, "Too many levels of symbolic links."},
    {WSAENAMETOOLONG, "WSAENAMETOOLONG", ENAMETOOLONG, "File name too long."},
    {WSAEHOSTDOWN, "WSAEHOSTDOWN", EHOSTDOWN, "Host is down."},
    {WSAEHOSTUNREACH, "WSAEHOSTUNREACH", EHOSTUNREACH, "No route to host."},
    {WSAENOTEMPTY, "WSAENOTEMPTY", ENOTEMPTY, "Directory not empty"},
    {WSANOTINITIALISED, "WSANOTINITIALISED", 0, ""},
    {WSAHOST_NOT_FOUND, "WSAHOST_NOT_FOUND", 0, ""},
    {WSATRY_AGAIN, "WSATRY_AGAIN", 0, ""},
    {WSANO_RECOVERY, "WSANO_RECOVERY", 0, ""},
    {WSANO_DATA, "WSANO_DATA", 0, ""},
};

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
    for (const auto& alias : kAliases) {
        if (alias.Native == nativeError) {
            return alias.Code;
        }
    }
    return nativeError;
}

} // namespace Id
