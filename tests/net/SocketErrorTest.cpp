#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <utility>

// Every code with its fixed message, written out here rather than read from the table, so a
// typo in either place shows. Codes without a message (none, negative, unknown, the resolver's
// other codes, not initialised) end with the line break.
TEST(SocketErrorText, EveryCodeTranslatesToItsFixedMessage) {
    TIdComponent holder; // keeps ActiveStack alive
    TIdStack& stack = *ActiveStack();
    const std::pair<int, std::string> cases[] = {
        {10004, "Interrupted system call."},
        {10009, "Bad file number."},
        {10013, "Access denied."},
        {10014, "Bad address."},
        {10022, "Invalid argument."},
        {10024, "Too many open files."},
        {10035, "Operation would block. "},
        {10036, "Operation now in progress."},
        {10037, "Operation already in progress."},
        {10038, "Socket operation on non-socket."},
        {10039, "Destination address required."},
        {10040, "Message too long."},
        {10041, "Protocol wrong type for socket."},
        {10042, "Bad protocol option."},
        {10043, "Protocol not supported."},
        {10044, "Socket type not supported."},
        {10045, "Operation not supported on socket."},
        {10046, "Protocol family not supported."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10050, "Network is down."},
        {10051, "Network is unreachable."},
        {10052, "Net dropped connection or reset."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10056, "Socket is already connected."},
        {10057, "Socket is not connected."},
        {10058, "Cannot send or receive after socket is closed."},
        {10059, "Too many references, cannot splice."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10062, "Too many levels of symbolic links."},
        {10063, "File name too long."},
        {10064, "Host is down."},
        {10065, "No route to host."},
        {10066, "Directory not empty"},
        {11001, "Host not found."},
    };
    for (const auto& [code, message] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(stack.TranslateSocketErrorMsg(code),
                  "Socket Error # " + std::to_string(code) + "\r\n" + message);
    }
    for (int code : {0, -1, -10061, 11002, 11003, 11004, 10093, 10010, 10067, 111}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(stack.TranslateSocketErrorMsg(code),
                  "Socket Error # " + std::to_string(code) + "\r\n");
    }
    try {
        stack.RaiseSocketError(10054);
        ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

// Linux numbers differ from BSD's, so the mapping must go by name (ECONNREFUSED is 111 here,
// and 10000 + 111 would be a meaningless code): every row of the table maps its native error
// to its code, aliases included; an error with no socket meaning keeps its own small number.
TEST(SocketErrorMapping, TableRowsRoundTripAndUnknownNativeErrorsStayBelowWinsockRange) {
    int count = 0;
    const Id::TIdSocketErrorInfo* table = Id::SocketErrorTable(count);
    std::set<int> natives;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].Name);
        if (table[i].Native != 0) {
            EXPECT_TRUE(natives.insert(table[i].Native).second) << "native error mapped twice";
            EXPECT_EQ(Id::SocketErrorFromNative(table[i].Native), table[i].Code);
        }
    }
    for (const auto& [native, code] :
         {std::pair{EAGAIN, 10035}, std::pair{EWOULDBLOCK, 10035}, std::pair{ECONNREFUSED, 10061},
          std::pair{EPIPE, 10058}, std::pair{0, 0}, std::pair{EDOM, EDOM}}) {
        EXPECT_EQ(Id::SocketErrorFromNative(native), code) << native;
    }
    EXPECT_LT(EDOM, 10000);
}
