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

std::string Repeat(const std::string& AText, int ACount) {
    std::string result;
    for (int i = 0; i < ACount; ++i) {
        result += AText;
    }
    return result;
}

// A reply holds at most 1000 lines and 65536 bytes, a line counting its text (CR LF dropped)
// and one byte for its ending, blank lines too. Beyond that it raises, keeps what it read in
// LastReply and leaves the rest unread.
TEST(ReplyRead, LimitsOfOneReply) {
    const std::string x = "250-x\r\n";
    const std::string wide = "250-" + std::string(6548, 'y') + "\r\n"; // counts 6553
    struct Case {
        const char* why;
        std::string wire;
        bool tooLong;
        size_t kept; // lines in LastReply
    };
    const Case cases[] = {
        {"1000 lines", Repeat(x, 999) + "250 end\r\n", false, 1000},
        {"1001 lines", Repeat(x, 1000) + "250 end\r\n", true, 1000},
        {"65536 bytes", Repeat(wide, 10) + "250 e\r\n", false, 11},
        {"65537 bytes", Repeat(wide, 10) + "250 ee\r\n", true, 11},
        {"blank lines count", x + std::string(70000, '\n') + "250 end\r\n", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection connection;
        connection.Handler->Receipt(c.wire + "next\r\n");
        connection.Handler->EndOfData();
        try {
            EXPECT_EQ(connection.Conn.ReadReply(), 250);
            EXPECT_FALSE(c.tooLong) << "no exception";
        } catch (const EIdReplyTooLong& e) {
            EXPECT_TRUE(c.tooLong);
            EXPECT_STREQ(e.what(), "Reply longer than 1000 lines or 65536 bytes.");
        }
        EXPECT_EQ(connection.Conn.LastReply()->Text().size(), c.kept);
        EXPECT_EQ(connection.Conn.LastReply()->NumericCode(), 250);
        std::string rest;
        while (rest != "next") {
            rest = connection.Conn.ReadLn();
        }
    }
}
