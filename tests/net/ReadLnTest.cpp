// Line reading against an in-memory handler, where every receipt boundary is exact.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
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

// Long lines are compared by length and ends, so a failure prints something readable.
std::string Describe(const std::string& line) {
    if (line.size() <= 40) {
        return line;
    }
    return std::to_string(line.size()) + " bytes " + line.substr(0, 3) + "..." +
           line.substr(line.size() - 3);
}

// What a ReadLn produced: the line, or the exception's text.
std::string Outcome(const std::function<std::string()>& read) {
    try {
        return "line:" + Describe(read());
    } catch (const EIdException& e) {
        return std::string("raised:") + e.what();
    }
}

} // namespace

TEST(ReadLn, CutsLinesAtTheirTerminator) {
    struct Case {
        const char* why;
        std::vector<std::string> receipts; // one Recv each
        std::string terminator;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"CR LF line in one block", {"hello\r\n"}, "", {"hello"}},
        {"LF only", {"hello\n"}, "", {"hello"}},
        {"CR LF alone is an empty line", {"\r\n"}, "", {""}},
        {"only one CR is removed", {"text\r\r\n"}, "", {"text\r"}},
        {"a CR inside the line stays", {"a\rb\r\n"}, "", {"a\rb"}},
        {"two lines in one block", {"one\r\ntwo\n"}, "", {"one", "two"}},
        {"CR and LF in different receipts", {"abc\r", "\n"}, "", {"abc"}},
        {"line in many receipts", {"he", "l", "lo wor", "ld\r\n"}, "", {"hello world"}},
        {"explicit CR LF: no further CR removed", {"a\r\r\n"}, "\r\n", {"a\r"}},
        {"explicit CR LF: a lone LF is data", {"b\nc\r\n"}, "\r\n", {"b\nc"}},
        {"explicit CR LF spanning two receipts", {"abc\r", "\ndef\r\n"}, "\r\n", {"abc", "def"}},
        {"explicit LF behaves as the default", {"x\r\n"}, "\n", {"x"}},
        {"three-byte terminator spanning three receipts",
         {"12E", "N", "D34END"},
         "END",
         {"12", "34"}},
        {"terminator bytes that begin a false match", {"aEENDb", "END"}, "END", {"aE", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection t;
        for (const std::string& r : c.receipts) {
            t.Handler->Receipt(r);
        }
        // A terminator that is missed then ends in an empty line instead of a hang.
        t.Handler->EndOfData();
        for (const std::string& expected : c.lines) {
            EXPECT_EQ(t.Conn.ReadLn(c.terminator), expected);
        }
        EXPECT_EQ(t.Conn.InputBuffer()->Size(), 0);
        EXPECT_EQ(t.Handler->PendingReceipts(), 0u);
    }
}

TEST(ReadLn, OneBytePerReceiptGivesTheSameLines) {
    Connection t;
    const std::string text = "first line\r\n\r\nthird\r\r\n";
    t.Handler->BytePerReceipt(text);
    t.Handler->EndOfData();
    EXPECT_EQ(t.Conn.ReadLn(), "first line");
    EXPECT_EQ(t.Conn.ReadLn(), "");
    EXPECT_EQ(t.Conn.ReadLn(), "third\r");
    EXPECT_EQ(t.Handler->RecvCalls(), int(text.size()));
}

// The length compared with the maximum counts the bytes before the terminator, CR included.
TEST(ReadLn, EnforcesTheMaximumLineLength) {
    const std::string exceeded = "raised:Max line length exceeded.";
    struct Case {
        const char* why;
        std::string input;
        int32_t maxLength; // -1: the connection's MaxLineLength (16384)
        TIdMaxLineAction action;
        std::vector<std::string> outcomes;
    };
    const std::string k16383(16383, 'a'), k16384(16384, 'b'), k16385(16385, 'c');
    const std::string c16384(16384, 'c');
    const Case cases[] = {
        {"16384 before LF", k16384 + "\n", -1, maException, {"line:" + Describe(k16384)}},
        {"16383 before CR LF", k16383 + "\r\n", -1, maException, {"line:" + Describe(k16383)}},
        {"16384 before CR LF counts the CR", k16384 + "\r\n", -1, maException, {exceeded}},
        {"16385 before LF", k16385 + "\n", -1, maException, {exceeded}},
        {"16385 without any terminator", k16385, -1, maException, {exceeded}},
        {"split: the first 16384 bytes, then the rest",
         k16385 + "\n",
         -1,
         maSplit,
         {"line:" + Describe(c16384), "line:c"}},
        {"split without a terminator",
         k16385 + "x\n",
         -1,
         maSplit,
         {"line:" + Describe(c16384), "line:cx"}},
        {"split of CR LF beyond the limit leaves an empty line",
         k16384 + "\r\n",
         -1,
         maSplit,
         {"line:" + Describe(k16384), "line:"}},
        {"explicit maximum", "123456\n", 5, maException, {exceeded}},
        {"explicit maximum split", "123456\n", 5, maSplit, {"line:12345", "line:6"}},
        {"no limit with 0",
         std::string(100000, 'z') + "\n",
         0,
         maException,
         {"line:" + Describe(std::string(100000, 'z'))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection t;
        t.Conn.SetMaxLineAction(c.action);
        // Delivered in 4 KiB receipts, as a socket would, so the checks run between them.
        for (size_t i = 0; i < c.input.size(); i += 4096) {
            t.Handler->Receipt(c.input.substr(i, 4096));
        }
        t.Handler->EndOfData();
        for (const std::string& expected : c.outcomes) {
            EXPECT_EQ(Outcome([&] { return t.Conn.ReadLn("", -1, c.maxLength); }), expected);
        }
    }
}

TEST(ReadLn, AnOverLongLineRaisesBeforeTheNextReceiptAndStaysBuffered) {
    Connection t;
    t.Handler->Receipt(std::string(16385, 'x'));
    t.Handler->Receipt("\nnext\n");
    EXPECT_THROW(t.Conn.ReadLn(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_EQ(t.Handler->PendingReceipts(), 1u);
    EXPECT_EQ(t.Conn.InputBuffer()->Size(), 16385);
    // MaxLineLength 0 lifts the limit for what is already buffered.
    t.Conn.SetMaxLineLength(0);
    EXPECT_EQ(t.Conn.ReadLn().size(), 16385u);
    EXPECT_EQ(t.Conn.ReadLn(), "next");
}

// A kept string must never carry bytes of an earlier, longer line into a shorter one, nor
// keep its old text when a close ends the read with an empty line.
TEST(ReadLn, IntoAKeptStringReplacesItsWholeContent) {
    Connection t;
    t.Conn.SetMaxLineLength(4);
    t.Conn.SetMaxLineAction(maSplit);
    t.Handler->Receipt("a longer line\r\nab\r\nsplitme\nrest");
    t.Handler->EndOfData();
    std::string line = "stale text from before";
    const std::vector<std::string> expected = {"a lo", "nger", " lin", "e",
                                               "ab",   "spli", "tme",  ""};
    for (const std::string& want : expected) {
        t.Conn.ReadLnInto(line);
        EXPECT_EQ(line, want);
    }
    EXPECT_THROW(t.Conn.ReadLnInto(line), EIdConnClosedGracefully);
}

TEST(ReadLn, PeerCloseWithAnUnterminatedRestGivesAnEmptyLineThenRaises) {
    Connection t;
    int disconnected = 0;
    std::vector<TIdStatus> statuses;
    t.Conn.OnDisconnected = [&](TIdComponent* sender) {
        EXPECT_EQ(sender, &t.Conn);
        ++disconnected;
    };
    t.Conn.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string&) {
        statuses.push_back(status);
    };
    t.Handler->Receipt("line\r\nabc");
    t.Handler->EndOfData();
    EXPECT_EQ(t.Conn.ReadLn(), "line");
    EXPECT_EQ(t.Conn.ReadLn(), "");
    // The three bytes are still there; the close was reported once and the socket closed.
    EXPECT_EQ(t.Conn.InputBuffer()->Size(), 3);
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(statuses, std::vector<TIdStatus>{hsDisconnected});
    EXPECT_FALSE(t.Handler->Connected());
    EXPECT_TRUE(t.Conn.ClosedGracefully());
    EXPECT_EQ(Outcome([&] { return t.Conn.ReadLn(); }), "raised:Connection Closed Gracefully.");
    EXPECT_EQ(disconnected, 1);
    EXPECT_FALSE(t.Conn.Connected());
}

TEST(ReadLn, PeerCloseWithNothingBufferedRaisesAfterOneDisconnectEvent) {
    Connection t;
    std::vector<std::string> order;
    t.Conn.OnDisconnected = [&](TIdComponent*) { order.push_back("OnDisconnected"); };
    t.Handler->Receipt("last\n");
    t.Handler->EndOfData();
    EXPECT_EQ(t.Conn.ReadLn(), "last");
    try {
        t.Conn.ReadLn();
        ADD_FAILURE() << "no exception";
    } catch (const EIdConnClosedGracefully& e) {
        order.push_back(e.what());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"OnDisconnected", "Connection Closed Gracefully."}));
    // Asking again reports nothing new.
    EXPECT_FALSE(t.Conn.Connected());
    EXPECT_THROW(t.Conn.CheckForDisconnect(true, false), EIdConnClosedGracefully);
    EXPECT_EQ(order.size(), 2u);
}

TEST(ReadLn, TimeOuts) {
    {
        SCOPED_TRACE("the default time-out with ReadTimeout set raises");
        Connection t;
        t.Conn.SetReadTimeout(20);
        EXPECT_EQ(Outcome([&] { return t.Conn.ReadLn(); }), "raised:Read Timeout");
    }
    {
        SCOPED_TRACE("an explicit time-out only spaces out the checks");
        Connection t;
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            t.Handler->Receipt("late\r\n");
        });
        EXPECT_EQ(t.Conn.ReadLn("", 10), "late");
        late.join();
    }
    {
        SCOPED_TRACE("ReadTimeout 0 waits without limit");
        Connection t;
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            t.Handler->Receipt("eventually\n");
        });
        EXPECT_EQ(t.Conn.ReadLn(), "eventually");
        late.join();
    }
}

TEST(ReadLn, AsciiFilterClearsTheHighBit) {
    Connection t;
    t.Conn.SetASCIIFilter(true);
    t.Handler->Receipt("\xC1\xE2z\x8D\n");
    EXPECT_EQ(t.Conn.ReadLn(), "Abz");
}

// Most reads find their line already buffered and take it without the general search loop;
// the same rules must hold there. Each case's bytes follow a first line that the first ReadLn
// takes, so every checked read starts with data buffered.
TEST(ReadLn, ALineAlreadyBufferedFollowsTheSameRules) {
    const std::string exceeded = "raised:Max line length exceeded.";
    struct Case {
        const char* why;
        std::vector<std::string> receipts; // after "first\n" in the first receipt
        std::string terminator;
        int32_t maxLength; // -1: the connection's MaxLineLength (16384)
        TIdMaxLineAction action;
        std::vector<std::string> outcomes;
    };
    const std::string k16383(16383, 'a'), k16384(16384, 'b'), k16385(16385, 'c');
    const Case cases[] = {
        {"CR LF, LF, CR LF alone",
         {"one\r\ntwo\n\r\n"},
         "",
         -1,
         maException,
         {"line:one", "line:two", "line:"}},
        {"only one CR is removed", {"text\r\r\n"}, "", -1, maException, {"line:text\r"}},
        {"explicit LF as the default", {"x\r\ny\n"}, "\n", -1, maException, {"line:x", "line:y"}},
        {"explicit CR LF removes no further CR",
         {"a\r\r\nb\nc\r\n"},
         "\r\n",
         -1,
         maException,
         {"line:a\r", "line:b\nc"}},
        {"16384 before LF", {k16384 + "\n"}, "", -1, maException, {"line:" + Describe(k16384)}},
        {"16383 before CR LF",
         {k16383 + "\r\n"},
         "",
         -1,
         maException,
         {"line:" + Describe(k16383)}},
        {"16384 before CR LF counts the CR", {k16384 + "\r\n"}, "", -1, maException, {exceeded}},
        {"16385 before LF", {k16385 + "\n"}, "", -1, maException, {exceeded}},
        {"explicit maximum, exactly", {"12345\n"}, "", 5, maException, {"line:12345"}},
        {"explicit maximum split", {"123456\n"}, "", 5, maSplit, {"line:12345", "line:6"}},
        {"no limit with 0",
         {std::string(20000, 'z') + "\n"},
         "",
         0,
         maException,
         {"line:" + Describe(std::string(20000, 'z'))}},
        {"a line ending where the receipt ends, then the next receipt",
         {"second\r\n", "third\n"},
         "",
         -1,
         maException,
         {"line:second", "line:third"}},
        {"CR at the end of one receipt, LF in the next",
         {"abc\r", "\nd\n"},
         "",
         -1,
         maException,
         {"line:abc", "line:d"}},
        {"an unterminated rest, then the peer closes",
         {"rest"},
         "",
         -1,
         maException,
         {"line:", "raised:Connection Closed Gracefully."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Connection t;
        t.Conn.SetMaxLineAction(c.action);
        t.Handler->Receipt("first\n" + c.receipts.front());
        for (size_t i = 1; i < c.receipts.size(); ++i) {
            t.Handler->Receipt(c.receipts[i]);
        }
        t.Handler->EndOfData();
        ASSERT_EQ(t.Conn.ReadLn(), "first");
        ASSERT_GT(t.Conn.InputBuffer()->Size(), 0);
        for (const std::string& expected : c.outcomes) {
            EXPECT_EQ(Outcome([&] { return t.Conn.ReadLn(c.terminator, -1, c.maxLength); }),
                      expected);
        }
        if (c.outcomes.back() == exceeded) {
            // The over-long line stays buffered, whole.
            EXPECT_EQ(t.Conn.InputBuffer()->Size(), int32_t(c.receipts.front().size()));
        }
    }
}

// Lines are cut from the front of the buffer, which moves what is left to its start once
// 32768 consumed bytes have piled up: lines on both sides of that move, and ones that
// straddle two receipts, come out whole and in order, through both ways of reading.
TEST(ReadLn, LinesStayWholeAcrossReceiptsAndTheBuffersCompaction) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += ":nick!user@host PRIVMSG #chan :" + std::to_string(i * 7919) + "\r\n";
    }
    for (bool into : {false, true}) {
        SCOPED_TRACE(into ? "ReadLnInto" : "ReadLn");
        Connection t;
        for (size_t i = 0; i < text.size(); i += 32768) {
            t.Handler->Receipt(text.substr(i, 32768));
        }
        t.Handler->EndOfData();
        std::string line;
        int compactions = 0;
        for (int i = 0; i < 3000; ++i) {
            const int32_t consumedBefore = t.Conn.InputBuffer()->ConsumedCount();
            if (into) {
                t.Conn.ReadLnInto(line);
            } else {
                line = t.Conn.ReadLn();
            }
            ASSERT_EQ(line, ":nick!user@host PRIVMSG #chan :" + std::to_string(i * 7919));
            const int32_t consumed = t.Conn.InputBuffer()->ConsumedCount();
            ASSERT_LT(consumed, 32768);
            if (consumed < consumedBefore && t.Conn.InputBuffer()->Size() > 0) {
                ++compactions;
            }
        }
        EXPECT_GE(compactions, 2);
        EXPECT_EQ(t.Conn.InputBuffer()->Size(), 0);
    }
}

// Every removed line, with its terminator, is read work; it is reported only inside a work
// bracket, as running totals.
TEST(ReadLn, RemovedLinesAreReportedAsReadWorkInsideABracket) {
    Connection t;
    std::vector<int32_t> totals;
    t.Conn.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
        EXPECT_EQ(mode, wmRead);
        totals.push_back(count);
    };
    t.Handler->Receipt("ab\r\ncd\n");
    t.Handler->Receipt("e\nf\n");
    EXPECT_EQ(t.Conn.ReadLn(), "ab");
    t.Conn.BeginWork(wmRead);
    EXPECT_EQ(t.Conn.ReadLn(), "cd");
    std::string line;
    t.Conn.ReadLnInto(line);
    EXPECT_EQ(line, "e");
    t.Conn.EndWork(wmRead);
    EXPECT_EQ(t.Conn.ReadLn(), "f");
    EXPECT_EQ(totals, (std::vector<int32_t>{3, 5}));
}
