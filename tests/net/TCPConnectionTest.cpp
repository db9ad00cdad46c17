// The connection against an in-memory handler where every receipt boundary is exact: reading
// lines and replies, writing, handler ownership and the reader/window thread split.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using TestSupport::Raised;
using TestSupport::WaitUntil;

namespace {

// What one read produced: the line, or the exception's text.
template <typename F> std::string Outcome(F read) {
    try {
        return "line:" + read();
    } catch (const EIdException& e) {
        return std::string("raised:") + e.what();
    }
}

// What a ReadLn on another thread ended with.
std::future<std::string> StartReader(TIdTCPConnection& AConn) {
    return std::async(std::launch::async,
                      [&AConn] { return Outcome([&] { return AConn.ReadLn(); }); });
}

} // namespace

// Each case runs with its receipts arriving while the read waits and with all of it buffered
// behind a first line, through ReadLn and ReadLnInto (into a string holding longer text). The
// length compared with the maximum counts the bytes before the terminator, CR included.
TEST(ReadLn, BufferedAndWaitingReadsFollowTheSameRules) {
    const std::string x = "raised:Max line length exceeded.";
    using Texts = std::vector<std::string>;
    struct Case {
        const char* why;
        Texts receipts; // one Recv each
        std::string terminator;
        int32_t maxLength; // -1: the connection's MaxLineLength (16384)
        bool split;        // maSplit rather than maException
        Texts outcomes;    // one per read
    };
    const std::string b16384(16384, 'b'), c16385(16385, 'c');
    const Case cases[] = {
        // clang-format off
        {"CR LF line", {"hello\r\n"}, "", -1, false, {"line:hello"}},
        {"CR and LF in different receipts", {"abc\r", "\nd\n"}, "", -1, false,
         {"line:abc", "line:d"}},
        {"a terminator spanning three receipts", {"12E", "N", "D34END"}, "END", -1, false,
         {"line:12", "line:34"}},
        {"16384 before LF", {b16384 + "\n"}, "", -1, false, {"line:" + b16384}},
        {"16384 before CR LF counts the CR", {b16384 + "\r\n"}, "", -1, false, {x}},
        {"16385 before LF, and it stays buffered", {c16385 + "\n"}, "", -1, false, {x, x}},
        {"split: the first 16384 bytes, then the rest", {c16385 + "\n"}, "", -1, true,
         {"line:" + std::string(16384, 'c'), "line:c"}},
        {"explicit maximum, one over", {"123456\n"}, "", 5, false, {x}},
        {"an unterminated rest, then the peer closes", {"rest"}, "", -1, false,
         {"line:", "raised:Connection Closed Gracefully."}},
        // clang-format on
    };
    for (const Case& c : cases) {
        for (bool buffered : {false, true}) {
            for (bool into : {false, true}) {
                SCOPED_TRACE(testing::Message() << c.why << (buffered ? ", buffered" : ", waiting")
                                                << (into ? ", ReadLnInto" : ", ReadLn"));
                ScriptedConnection t;
                t.Conn.SetMaxLineAction(c.split ? maSplit : maException);
                std::string all = "first\n";
                for (const std::string& r : c.receipts) {
                    buffered ? void(all += r) : t.Handler->Receipt(r);
                }
                if (buffered) {
                    t.Handler->Receipt(all);
                }
                // A terminator that is missed then ends in an empty line instead of a hang.
                t.Handler->EndOfData();
                if (buffered) {
                    ASSERT_EQ(t.Conn.ReadLn(), "first");
                }
                std::string kept = "stale text, longer than any short line";
                for (const std::string& expected : c.outcomes) {
                    EXPECT_EQ(Outcome([&] {
                                  if (!into) {
                                      return t.Conn.ReadLn(c.terminator, -1, c.maxLength);
                                  }
                                  t.Conn.ReadLnInto(kept, c.terminator, -1, c.maxLength);
                                  return kept;
                              }),
                              expected);
                }
            }
        }
    }
}

// A read that waits with ReadTimeout set gives up with "Read Timeout"; an explicit time-out
// only spaces out the checks; ReadTimeout 0 waits without limit.
TEST(ReadLn, TimeOutsAndReadAll) {
    ScriptedConnection limited;
    limited.Conn.SetReadTimeout(20);
    EXPECT_EQ(Raised<EIdReadTimeout>([&] { limited.Conn.ReadLn(); }), "Read Timeout");
    for (int32_t explicitTimeout : {10, Id::TimeoutDefault}) {
        SCOPED_TRACE(explicitTimeout);
        ScriptedConnection t;
        std::thread late([&] {
            // After a wait has timed out, or (without a limit) while the reader waits.
            WaitUntil([&] {
                return explicitTimeout > 0 ? t.Handler->Timeouts() > 0 : t.Handler->Waiting() > 0;
            });
            t.Handler->Receipt("late\r\n");
        });
        EXPECT_EQ(Outcome([&] { return t.Conn.ReadLn("", explicitTimeout); }), "line:late");
        late.join();
    }
    // ReadAll brackets its own read work, also when it ends by raising, unless inside another.
    std::vector<std::string> log;
    limited.Conn.OnWorkBegin = [&](TIdComponent*, TWorkMode, int32_t) { log.push_back("begin"); };
    limited.Conn.OnWorkEnd = [&](TIdComponent*, TWorkMode) { log.push_back("end"); };
    limited.Handler->Receipt("abc");
    EXPECT_EQ(Outcome([&] { return limited.Conn.ReadAll(); }), "raised:Read Timeout");
    limited.Conn.BeginWork(wmRead, 100); // the outer bracket: the inner one raises no events
    EXPECT_EQ(Outcome([&] { return limited.Conn.ReadAll(); }), "raised:Read Timeout");
    limited.Conn.EndWork(wmRead);
    EXPECT_EQ(log, (std::vector<std::string>{"begin", "end", "begin", "end"}));
}

// A reply ends at a line shorter than its code and leaves the rest unread. It holds at most
// 1000 lines and 65536 bytes, a blank line counting one byte; beyond that it raises and keeps
// what it read in LastReply.
TEST(ReplyRead, EndsAtAShortLineWithinItsLimits) {
    const std::string x = "250-x\r\n", tooLong = "Reply longer than 1000 lines or 65536 bytes.";
    std::string x1000;
    for (int i = 0; i < 1000; ++i) {
        x1000 += x;
    }
    const struct {
        const char* why;
        std::string wire;
        size_t lines;
        std::string error = "(nothing raised)";
    } cases[] = {
        {"a line shorter than the code", "250-a\r\n25\r\n", 2},
        {"1001 lines", x1000 + "250 end\r\n", 1000, tooLong},
        {"blank lines count", x + std::string(70000, '\n') + "250 end\r\n", 1, tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedConnection t;
        t.Handler->Receipt(c.wire + "next\r\n");
        t.Handler->EndOfData(); // a read past the script ends instead of waiting
        EXPECT_EQ(Raised<EIdReplyTooLong>([&] { t.Conn.ReadReply(); }), c.error);
        EXPECT_EQ(t.Conn.LastReply()->Text().size(), c.lines);
        std::string line = t.Conn.ReadLn(); // the rest of a refused reply comes first
        while (c.error == tooLong && line != "next") {
            line = t.Conn.ReadLn();
        }
        EXPECT_EQ(line, "next");
    }
}

// Partial sends are repeated until all is sent.
TEST(TCPConnectionWrite, PartialSendsAreCarriedOn) {
    ScriptedConnection t;
    t.Handler->SendLimit = 3;
    t.Conn.WriteLn("PRIVMSG #c :hello");
    t.Conn.Write("tail");
    EXPECT_EQ(t.Handler->Sent(), "PRIVMSG #c :hello\r\ntail");
}

// A Disconnect while the reader is in Recv with an unterminated rest buffered: the read raises
// the local close rather than handing the rest out as after a peer's close.
TEST(TCPConnectionThreads, DisconnectDuringARecvWithARestBufferedRaises) {
    ScriptedConnection t;
    t.Handler->WaitInRecv = true;
    t.Handler->Receipt("abc");
    auto reader = StartReader(t.Conn);
    ASSERT_TRUE(WaitUntil([&] { return t.Handler->Waiting() == 1; }));
    t.Conn.Disconnect();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready) << "reader still blocked";
    EXPECT_EQ(reader.get(), "raised:Disconnected.");
}

// The reader is held just before it reports a peer close while the window's thread meets and
// reports it: the reader must not report it again.
TEST(TCPConnectionThreads, APeerCloseSeenFromBothThreadsIsReportedOnce) {
    ScriptedConnection t;
    std::atomic<int> disconnected{0};
    t.Conn.OnDisconnected = [&](TIdComponent*) { ++disconnected; };
    t.Handler->AfterEndGate.Arm();
    auto reader = StartReader(t.Conn);
    t.Handler->EndOfData();
    ASSERT_TRUE(t.Handler->AfterEndGate.WaitReturned()) << "the reader never met the close";
    EXPECT_FALSE(t.Conn.Connected());
    EXPECT_EQ(disconnected, 1);
    t.Handler->AfterEndGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "raised:Connection Closed Gracefully.");
    EXPECT_EQ(disconnected, 1);
}
