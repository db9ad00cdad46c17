// Socket error codes in the Winsock numbering, their message texts, and the mapping from this
// platform's native error numbers onto them.
//
// Every layer above the stack speaks these codes: 10000 plus the BSD error number for socket
// errors, 11001 to 11004 for resolver errors, 10093 for a socket library that is not started.
// Native errors are mapped by meaning (by name), never by adding 10000 to a Linux errno: Linux
// numbers the same conditions differently from BSD.
#pragma once

#include <cstdint>

#ifdef _WIN32
// Winsock's headers define these same names as macros of the same values, which would turn
// Id::WSAEINTR into Id::10004. They are taken in here, once, and the macros dropped, so that
// the constants below work in any file, whichever header it includes first; a file that
// includes this one uses Id::WSAEINTR and friends, never the bare macros.
#include <winsock2.h>
#undef WSAEINTR
#undef WSAEBADF
#undef WSAEACCES
#undef WSAEFAULT
#undef WSAEINVAL
#undef WSAEMFILE
#undef WSAEWOULDBLOCK
#undef WSAEINPROGRESS
#undef WSAEALREADY
#undef WSAENOTSOCK
#undef WSAEDESTADDRREQ
#undef WSAEMSGSIZE
#undef WSAEPROTOTYPE
#undef WSAENOPROTOOPT
#undef WSAEPROTONOSUPPORT
#undef WSAESOCKTNOSUPPORT
#undef WSAEOPNOTSUPP
#undef WSAEPFNOSUPPORT
#undef WSAEAFNOSUPPORT
#undef WSAEADDRINUSE
#undef WSAEADDRNOTAVAIL
#undef WSAENETDOWN
#undef WSAENETUNREACH
#undef WSAENETRESET
#undef WSAECONNABORTED
#undef WSAECONNRESET
#undef WSAENOBUFS
#undef WSAEISCONN
#undef WSAENOTCONN
#undef WSAESHUTDOWN
#undef WSAETOOMANYREFS
#undef WSAETIMEDOUT
#undef WSAECONNREFUSED
#undef WSAELOOP
#undef WSAENAMETOOLONG
#undef WSAEHOSTDOWN
#undef WSAEHOSTUNREACH
#undef WSAENOTEMPTY
#undef WSANOTINITIALISED
#undef WSAHOST_NOT_FOUND
#undef WSATRY_AGAIN
#undef WSANO_RECOVERY
#undef WSANO_DATA
#endif

namespace Id {

inline constexpr int32_t WSAEINTR = 10004;
inline constexpr int32_t WSAEBADF = 10009;
inline constexpr int32_t WSAEACCES = 10013;
inline constexpr int32_t WSAEFAULT = 10014;
inline constexpr int32_t WSAEINVAL = 10022;
inline constexpr int32_t WSAEMFILE = 10024;
inline constexpr int32_t WSAEWOULDBLOCK = 10035;
inline constexpr int32_t WSAEINPROGRESS = 10036;
inline constexpr int32_t WSAEALREADY = 10037;
inline constexpr int32_t WSAENOTSOCK = 10038;
inline constexpr int32_t WSAEDESTADDRREQ = 10039;
inline constexpr int32_t WSAEMSGSIZE = 10040;
inline constexpr int32_t WSAEPROTOTYPE = 10041;
inline constexpr int32_t WSAENOPROTOOPT = 10042;
inline constexpr int32_t WSAEPROTONOSUPPORT = 10043;
inline constexpr int32_t WSAESOCKTNOSUPPORT = 10044;
inline constexpr int32_t WSAEOPNOTSUPP = 10045;
inline constexpr int32_t WSAEPFNOSUPPORT = 10046;
inline constexpr int32_t WSAEAFNOSUPPORT = 10047;
inline constexpr int32_t WSAEADDRINUSE = 10048;
inline constexpr int32_t WSAEADDRNOTAVAIL = 10049;
inline constexpr int32_t WSAENETDOWN = 10050;
inline constexpr int32_t WSAENETUNREACH = 10051;
inline constexpr int32_t WSAENETRESET = 10052;
inline constexpr int32_t WSAECONNABORTED = 10053;
inline constexpr int32_t WSAECONNRESET = 10054;
inline constexpr int32_t WSAENOBUFS = 10055;
inline constexpr int32_t WSAEISCONN = 10056;
inline constexpr int32_t WSAENOTCONN = 10057;
inline constexpr int32_t WSAESHUTDOWN = 10058;
inline constexpr int32_t WSAETOOMANYREFS = 10059;
inline constexpr int32_t WSAETIMEDOUT = 10060;
inline constexpr int32_t WSAECONNREFUSED = 10061;
inline constexpr int32_t WSAELOOP = 10062;
inline constexpr int32_t WSAENAMETOOLONG = 10063;
inline constexpr int32_t WSAEHOSTDOWN = 10064;
inline constexpr int32_t WSAEHOSTUNREACH = 10065;
inline constexpr int32_t WSAENOTEMPTY = 10066;
inline constexpr int32_t WSANOTINITIALISED = 10093;
inline constexpr int32_t WSAHOST_NOT_FOUND = 11001;
inline constexpr int32_t WSATRY_AGAIN = 11002;
inline constexpr int32_t WSANO_RECOVERY = 11003;
inline constexpr int32_t WSANO_DATA = 11004;

// One row of the error table: the code, its Winsock name, the native error of the same
// meaning (0 where this platform has none) and the message ("" where the code has none).
struct TIdSocketErrorInfo {
    int32_t Code;
    const char* Name;
    int Native;
    const char* Message;
};

// The whole table, in code order; for tests and for anyone listing the codes.
const TIdSocketErrorInfo* SocketErrorTable(int& count);

// The message of the shared table for a code; "" for 11001 (the stack answers that one
// itself) and for every code without an entry.
const char* SocketErrorMessage(int32_t code);

// The Winsock-numbered code for a native errno value. Native errors without a counterpart of
// the same meaning keep their own number, which lies below 10000 and so can never be taken
// for a Winsock code; their message is empty.
int32_t SocketErrorFromNative(int nativeError);

} // namespace Id
