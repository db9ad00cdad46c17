// Reading a numeric reply ("250-first", "250 last") off a connection: where a reply ends, and
// the limits that keep a peer from making one reply without end.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Connection {
    TIdTCPConnection Conn;
    ScriptedIOHandler* Handler = new ScriptedIOHandler();
    Connection() {
        Conn.SetIOHandler(Handler);
        Conn.SetOwnsIOHandler(true);
    }
};

} // namespace

TEST(ReplyRead, EndsAtTheEndMarkerOrAShortLineAndLeavesTheRest) {
    struct Case {
        const char* why;
        std::string wire;
        int16_t code;
        std::vector<std::string> text;
        std::string next; // the line read after the reply
    };
    const Case cases[] = {
        {"one line", "220 ready\r\nnext\r\n", 220, {"ready"}, "next"},
        {"continued, end marker in another case",
         "250-First\r\n250-Second\r\n250 Last\r\nnext\r\n",
         250,
         {"First", "Second", "Last"},
         "next"},
        {"blank lines are skipped",
         "\r\n  \r\n250-a\r\n\r\n250 b\r\nnext\r\n",
         250,
         {"a", "b"},
         "next"},
        {"a line shorter than the code ends the reply",
         "250-a\r\n25\r\n250 b\r\n",
         250,
         {"a", ""},
         "250 b"},
        {"so does one of just the code", "250-a\r\n250\r\n250 b\r\n", 250, {"a", ""}, "250 b"},
        {"a short first line is a whole reply", "25\r\n250 b\r\n", 25, {""}, "250 b"},
        {"a code with letters", "ab1-x\r\nAB1 y\r\nnext\r\n", 0, {"x", "y"}, "next"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection connection;
        connection.Handler->Receipt(c.wire);
        connection.Handler->EndOfData(); // a read past the script ends instead of waiting
        EXPECT_EQ(connection.Conn.ReadReply(), c.code);
        EXPECT_EQ(connection.Conn.LastReply()->Text(), c.text);
        EXPECT_EQ(connection.Conn.ReadLn(), c.next);
    }
}

TEST(ReplyRead, ACodeNotAllowedRaisesTheReplyError) {
    Connection connection;
    connection.Handler->Receipt("550-No such file\r\n550 Try again\r\n250 ok\r\n");
    try {
        connection.Conn.ReadReply({250, 251});
        ADD_FAILURE() << "no exception";
    } catch (const EIdProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyErrorCode(), 550);
        EXPECT_STREQ(e.what(), "No such file\r\nTry again\r\n");
    }
    EXPECT_EQ(connection.Conn.ReadReply({250}), 250);
}

// Beyond the limits the reply raises; what was read is in LastReply, the rest stays unread.
TEST(ReplyRead, AReplyOverItsLimitsRaisesAndLeavesTheRest) {
    const std::string tooLong = "Reply longer than 1000 lines or 65536 bytes.";
    std::string manyLines;
    for (int i = 0; i < TIdTCPConnection::MaxReplyLines + 1; ++i) {
        manyLines += "250-x\r\n";
    }
    const std::string longLine = "250-" + std::string(8000, 'y') + "\r\n";
    std::string manyBytes;
    for (int i = 0; i < 9; ++i) { // 9 * 8006 bytes: the ninth line goes over 64 KiB
        manyBytes += longLine;
    }
    std::string manyBlank = "250-x\r\n" + std::string(70000, '\n');
    struct Case {
        const char* why;
        std::string wire;
        size_t kept; // lines in LastReply
    };
    const Case cases[] = {
        {"one line more than the limit", manyLines + "250 end\r\n", 1000},
        {"bytes over the limit", manyBytes + "250 end\r\n", 9},
        {"blank lines count too", manyBlank + "250 end\r\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection connection;
        connection.Handler->Receipt(c.wire + "next\r\n");
        try {
            connection.Conn.ReadReply();
            ADD_FAILURE() << "no exception";
        } catch (const EIdReplyTooLong& e) {
            EXPECT_EQ(e.what(), tooLong);
        }
        EXPECT_EQ(connection.Conn.LastReply()->Text().size(), c.kept);
        EXPECT_EQ(connection.Conn.LastReply()->NumericCode(), 250);
        std::string rest;
        while (rest != "next") {
            rest = connection.Conn.ReadLn();
        }
    }
}

// Exactly at the limits is still one reply; a byte more is not. A line counts its text (the
// CR LF ending dropped) and one byte for its ending.
TEST(ReplyRead, TheLimitsAreInclusive) {
    std::string thousand;
    for (int i = 0; i < TIdTCPConnection::MaxReplyLines - 1; ++i) {
        thousand += "250-x\r\n";
    }
    std::string ten; // 10 lines counting 6553 bytes each, then a last line of 6 or 7
    for (int i = 0; i < 10; ++i) {
        ten += "250-" + std::string(6548, 'y') + "\r\n";
    }
    struct Case {
        const char* why;
        std::string wire;
        bool tooLong;
    };
    const Case cases[] = {
        {"1000 lines", thousand + "250 end\r\n", false},
        {"65536 bytes", ten + "250 e\r\n", false},
        {"65537 bytes", ten + "250 ee\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection connection;
        connection.Handler->Receipt(c.wire);
        if (c.tooLong) {
            EXPECT_THROW(connection.Conn.ReadReply(), EIdReplyTooLong);
        } else {
            EXPECT_EQ(connection.Conn.ReadReply(), 250);
        }
    }
}
