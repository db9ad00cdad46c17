#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

namespace {

// Holds a component so that ActiveStack exists for the test.
struct StackHolder {
    TIdComponent component;
    TIdStack& stack = *ActiveStack();
};

std::string Expected(int code, const std::string& message) {
    return "Socket Error # " + std::to_string(code) + "\r\n" + message;
}

} // namespace

// Every code with a message, written out here rather than read from the table, so a typo in
// either place shows.
TEST(SocketErrorText, EveryCodeTranslatesToItsFixedMessage) {
    StackHolder h;
    struct Case {
        int code;
        const char* message;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(h.stack.TranslateSocketErrorMsg(c.code), Expected(c.code, c.message));
    }
}

TEST(SocketErrorText, CodesWithoutMessageEndWithTheLineBreak) {
    StackHolder h;
    struct Case {
        const char* why;
        int code;
    };
    const Case cases[] = {
        {"no error", 0},
        {"negative", -1},
        {"large negative", -10061},
        {"try again", 11002},
        {"no recovery", 11003},
        {"no data", 11004},
        {"not initialised", 10093},
        {"gap in the table", 10010},
        {"just past the table", 10067},
        {"native Linux number", 111},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(h.stack.TranslateSocketErrorMsg(c.code), Expected(c.code, ""));
    }
}

// 11001's text belongs to the platform stack; the shared base table has none.
TEST(SocketErrorText, SharedTableHasNoHostNotFoundText) {
    EXPECT_STREQ(Id::SocketErrorMessage(11001), "");
    EXPECT_STREQ(Id::SocketErrorMessage(10061), "Connection refused.");
}

TEST(SocketErrorText, RaiseSocketErrorCarriesCodeAndText) {
    StackHolder h;
    try {
        h.stack.RaiseSocketError(10054);
        FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

// Linux numbers differ from BSD's, so the mapping must go by name: ECONNREFUSED is 111 here,
// and 10000 + 111 would be a meaningless code.
TEST(SocketErrorMapping, NativeErrorsMapByMeaning) {
    struct Case {
        const char* why;
        int native;
        int code;
    };
    const Case cases[] = {
        {"EINTR", EINTR, 10004},
        {"EBADF", EBADF, 10009},
        {"EACCES", EACCES, 10013},
        {"EINVAL", EINVAL, 10022},
        {"EWOULDBLOCK", EWOULDBLOCK, 10035},
        {"EAGAIN", EAGAIN, 10035},
        {"EINPROGRESS", EINPROGRESS, 10036},
        {"ENOTSOCK", ENOTSOCK, 10038},
        {"EADDRINUSE", EADDRINUSE, 10048},
        {"EADDRNOTAVAIL", EADDRNOTAVAIL, 10049},
        {"ENETUNREACH", ENETUNREACH, 10051},
        {"ECONNABORTED", ECONNABORTED, 10053},
        {"ECONNRESET", ECONNRESET, 10054},
        {"ENOTCONN", ENOTCONN, 10057},
        {"EPIPE: sending side closed", EPIPE, 10058},
        {"ETIMEDOUT", ETIMEDOUT, 10060},
        {"ECONNREFUSED", ECONNREFUSED, 10061},
        {"EHOSTUNREACH", EHOSTUNREACH, 10065},
        {"ENOTEMPTY", ENOTEMPTY, 10066},
        {"ENOMEM: out of buffers", ENOMEM, 10055},
        {"EPERM: refused by a local rule", EPERM, 10013},
        {"no error", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Id::SocketErrorFromNative(c.native), c.code);
    }
}

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
    // EDOM has no socket meaning: it keeps its own small number and an empty message.
    EXPECT_EQ(Id::SocketErrorFromNative(EDOM), EDOM);
    EXPECT_LT(EDOM, 10000);
}
