#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <utility>

// The texts met in practice are checked where the errors are raised; here the ones easy to
// get wrong (a trailing blank, a missing full stop) and the codes without a message (none,
// negative, unknown, the resolver's other codes, a raw errno), which end with the line break.
TEST(SocketErrorText, CodesTranslateToTheirFixedMessages) {
    TIdComponent holder; // keeps ActiveStack alive
    TIdStack& stack = *ActiveStack();
    const std::pair<int, std::string> cases[] = {
        {10035, "Operation would block. "},
        {10066, "Directory not empty"},
        {11001, "Host not found."},
        {10004, "Interrupted system call."},
        {0, ""},
        {-1, ""},
        {-10061, ""},
        {11002, ""},
        {11004, ""},
        {10093, ""},
        {10010, ""},
        {10067, ""},
        {111, ""},
    };
    for (const auto& [code, message] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(stack.TranslateSocketErrorMsg(code),
                  "Socket Error # " + std::to_string(code) + "\r\n" + message);
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
         {std::pair{EAGAIN, 10035}, std::pair{ECONNREFUSED, 10061}, std::pair{ECONNRESET, 10054},
          std::pair{EPIPE, 10058}, std::pair{0, 0}, std::pair{EDOM, EDOM}}) {
        EXPECT_EQ(Id::SocketErrorFromNative(native), code) << native;
    }
}
