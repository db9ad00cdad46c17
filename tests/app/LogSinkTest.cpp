// Every logged line goes to the screen, the hidden stores, the game's two files and, on
// closing or Clear Logs, "IRC.log". A line's bytes come in no declared encoding: UTF-8 where
// valid, else Windows-1252, for the whole line; an error's text is decoded by the same rule.
#include "DisplayText.h"
#include "FileWrite.h"
#include "FormFixture.h"
#include "Waiting.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;
using TestSupport::Raised;

const std::string Sep(21, '-');

// The game output entry of a line of at most 21 characters, given upper-cased.
std::string Entry(const std::string& AUpper) {
    return AUpper + std::string(21 - AUpper.size(), ' ') + Sep;
}

using LogSinkTest = FormFixture;

TEST_F(LogSinkTest, PadsEachUpperCasedEntryToWholeRowsInBothDirections) {
    const struct {
        const char* Why;
        std::string Line, Entry;
    } cases[] = {
        {"empty line: separator alone", "", Sep},
        {"20 characters: one blank", std::string(20, 'b'), std::string(20, 'B') + " " + Sep},
        {"21 characters: exactly one row", std::string(21, 'c'), std::string(21, 'C') + Sep},
        {"22 characters", std::string(22, 'd'), std::string(22, 'D') + std::string(20, ' ') + Sep},
        // Non-ASCII bytes (1252 and UTF-8 alike) reach the game file as they came.
        {"only a-z upper-cased", "az`{09 AZ@[\xE9\xC3\xA9\xFF",
         Entry("AZ`{09 AZ@[\xE9\xC3\xA9\xFF")},
    };
    // Each case's fresh window writes a file shorter than the one before it at least once,
    // so the file must be rewritten, neither appended to nor overwritten in place.
    for (bool backwards : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.Why) + (backwards ? " (backwards)" : " (forwards)"));
            TForm1 form;
            form.CheckBox1->setChecked(backwards);
            form.Addline(c.Line);
            EXPECT_EQ(form.RichEdit2().Text(), c.Entry);
            EXPECT_EQ(Talo(), c.Entry);
        }
    }
}

TEST_F(LogSinkTest, BackwardsWritePutsTheNewestFirstAndSwitchingItOffAppends) {
    std::string front, back;
    // Switching back and forth, enough to make the text grow its buffer at both ends.
    for (int i = 0; i < 600; ++i) {
        Form->CheckBox1->setChecked(i < 2 || i % 3 != 0);
        Form->Addline("line " + std::to_string(i));
        const std::string entry = Entry("LINE " + std::to_string(i));
        Form->CheckBox1->isChecked() ? front.insert(0, entry) : back.append(entry);
        ASSERT_EQ(Talo(), front + back) << i;
    }
}

TEST_F(LogSinkTest, TheScreenAndStoresTakeEachLineAndTheFilesCatchUpOnceWritable) {
    fs::remove(Dir.Path() / "data");
    const std::string error = Raised<EFCreateError>([&] { Form->Addline("first"); });
    EXPECT_TRUE(Mentions(error, {(Dir.Path() / "data/talofile.txt").string(), "No such file"}))
        << error;
    fs::create_directory(Dir.Path() / "data");
    Form->Addline("second \xC3\xA9"); // UTF-8
    Form->Addline("third \xE9");      // Windows-1252
    EXPECT_EQ(Form->RichEdit1->toPlainText(),
              QString::fromUtf8("\nfirst\nsecond \xC3\xA9\nthird \xC3\xA9"));
    // The hidden list holds the original bytes, upper-cased.
    EXPECT_EQ(Form->ListBox1(),
              (std::vector<std::string>{"FIRST", "SECOND \xC3\xA9", "THIRD \xE9"}));
    EXPECT_EQ(Talo(), Entry("THIRD \xE9") + Entry("SECOND \xC3\xA9") + Entry("FIRST"));

    // The flag file: created as one zero byte; an existing one keeps its later bytes.
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
    Dir.WriteFile("data/comm.bin", "\x01\x02\x03\x04\x05");
    Form->Addline("y");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string("\0\x02\x03\x04\x05", 5));
    Block("data/comm.bin"); // an existing flag file is opened, not created
    const std::string flag = Raised<EFOpenError>([&] { Form->Addline("z"); });
    EXPECT_TRUE(Mentions(flag, {(Dir.Path() / "data/comm.bin").string(), "Is a directory"}))
        << flag;
}

// The saved lines' value types: short and long strings for ASCII, UTF-8 for the rest.
std::string Short(const std::string& ALine) {
    return '\x06' + (char(ALine.size()) + ALine);
}
std::string Long(char AType, const std::string& ALine) { // a 4-byte little-endian length
    const auto n = uint32_t(ALine.size());
    return AType + std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + ALine;
}

// The saved log view: its lines left out when there are none, "Visible" false while hidden.
std::string LogView(const std::string& ALines, bool AVisible = false) {
    return "TPF0\x09TRichEdit\x09RichEdit1\x04Left\x02\x10\x03Top\x02\x28"
           "\x05Width\x03\xE1\x02\x06Height\x03\x21\x02" +
           (ALines.empty() ? "" : "\x0DLines.Strings\x01" + ALines + '\0') +
           "\x0AScrollBars\x07\x0AssVertical\x08TabOrder\x02\x05" +
           (AVisible ? "" : "\x07Visible\x08") + std::string(2, '\0');
}
// The view saved on closing: the empty first line, ALines, the session end.
std::string ClosedLog(const std::string& ALines, bool AVisible = false) {
    return LogView(Short("") + ALines + Short("***SESSION END***"), AVisible);
}

TEST_F(LogSinkTest, ClosingSavesTheLogicalLinesWithTheSmallestStringType) {
    const std::string a255(255, 'a'), b256(256, 'b'), d300(300, 'd');
    const struct {
        const char* Why;
        std::vector<std::string> Logged;
        std::string Saved;
    } cases[] = {
        {"short ASCII line", {"hello"}, Short("hello")},
        {"255 bytes still fit a short string", {a255}, Short(a255)},
        {"256 bytes need the long string", {b256}, Long('\x0C', b256)},
        {"valid UTF-8 is stored as is", {"caf\xC3\xA9"}, Long('\x14', "caf\xC3\xA9")},
        {"long 1252 line in UTF-8",
         {d300 + "\xE9\x80"},
         Long('\x14', d300 + "\xC3\xA9\xE2\x82\xAC")},
        // Split at CR LF, lone CR and lone LF; LF CR is two breaks, and a line's final CR does
        // not pair with the CR LF that starts the next line.
        {"breaks within lines",
         {"", "a\r\nb\nc\rd\n\re\r", "f"},
         Short("") + Short("a") + Short("b") + Short("c") + Short("d") + Short("") + Short("e") +
             Short("") + Short("f")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        TForm1 form;
        for (const std::string& line : c.Logged) {
            form.Addline(line);
        }
        EXPECT_TRUE(form.close());
        EXPECT_EQ(Dir.ReadFile("IRC.log"), ClosedLog(c.Saved));
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(LogSinkTest, ClearLogsAndClosingSaveTheViewAndShowEachFileThatCannotBeWritten) {
    Form->Addline("one");
    Dir.WriteFile("IRC.log", std::string(1000, 'x'));
    Form->Button_clrlogs->click();
    EXPECT_EQ(Dir.ReadFile("IRC.log"), LogView(""));
    EXPECT_TRUE(Form->ListBox1().empty());
    EXPECT_TRUE(Form->RichEdit1->toPlainText().isEmpty());
    EXPECT_EQ(Form->RichEdit2().Length(), 42u); // the game output text is kept
    Block("IRC.log");
    Form->Button_clrlogs->click();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors[0], {"IRC.log", "Is a directory"})) << Errors[0];
    fs::remove(Dir.Path() / "IRC.log");

    // Closing without data/ shows that and still closes; the session end reached the screen
    // before the file write failed, so it is saved too.
    Form->Addline("two");
    Form->show();
    Form->RichEdit1->show(); // the chat layout
    fs::remove_all(Dir.Path() / "data");
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_TRUE(Mentions(Errors[1], {"data/talofile.txt", "No such file"})) << Errors[1];
    EXPECT_EQ(Dir.ReadFile("IRC.log"), ClosedLog(Short("two"), true));
}

// Each case as a logged line and as the text of an error shown in the error box. A line that
// comes out as it went in is valid UTF-8; every other one is read as 1252.
TEST(DisplayText, ValidUtf8StaysAndAnythingElseIsReadAsWindows1252) {
    const struct {
        const char* Why;
        std::string Bytes, Utf8;
    } cases[] = {
        {"empty", "", ""},
        {"largest code point U+10FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"last before surrogates U+D7FF", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"UTF-8 stays UTF-8", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"controls and NUL pass through", std::string("a\0b\x01", 4), std::string("a\0b\x01", 4)},
        {"one invalid byte makes the whole line 1252", "\xC3\xA9 \xE9",
         "\xC3\x83\xC2\xA9 \xC3\xA9"},
        {"overlong slash C0 AF", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"overlong three-byte E0 9F BF", "\xE0\x9F\xBF", "\xC3\xA0\xC5\xB8\xC2\xBF"},
        {"overlong four-byte F0 8F BF BF", "\xF0\x8F\xBF\xBF", "\xC3\xB0\xC2\x8F\xC2\xBF\xC2\xBF"},
        {"surrogate U+D800", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
        {"F5 lead byte", "\xF5\x80\x80\x80", "\xC3\xB5\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
        {"truncated at the end", "ok\xE2\x82", "ok\xC3\xA2\xE2\x80\x9A"},
        {"continuation missing mid-line", "\xE2\x82x", "\xC3\xA2\xE2\x80\x9Ax"},
        // 0x80..0x9F is where 1252 differs from Latin-1; its five undefined bytes keep their
        // value as C1 controls.
        {"stray continuation byte: the euro sign", "\x80 5", "\xE2\x82\xAC 5"},
        {"undefined 81, 8D, 8F, 90, 9D", "\x81\x8D\x8F\x90\x9D",
         "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"A0 and FF as Latin-1", "\xA0\xFF", "\xC2\xA0\xC3\xBF"},
    };
    QString shown;
    const int dropped = TErrorDisplay::Dropped();
    const auto previous = TErrorDisplay::SetPresenter([&](const QString& text) {
        shown = text;
        // The box's event loop may run a failing tick: its error is dropped, boxes never stack.
        TErrorDisplay::ShowError(QStringLiteral("meanwhile"));
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        EXPECT_EQ(IsValidUtf8(c.Bytes), c.Bytes == c.Utf8);
        EXPECT_EQ(DisplayUtf8(c.Bytes), c.Utf8);
        try {
            throw std::runtime_error(c.Bytes);
        } catch (...) {
            TErrorDisplay::ShowCurrentException();
        }
        EXPECT_EQ(shown, QString::fromUtf8(c.Utf8.c_str())) << "in the error box";
    }
    EXPECT_EQ(TErrorDisplay::Dropped() - dropped, int(std::size(cases)));
    TErrorDisplay::SetPresenter(previous);
}

// The game deletes and recreates data/comm.bin while the window writes its flag byte into it:
// the write must not fail when the file vanishes under it.
TEST(FlagFile, TheGameDeletingTheFileMeanwhileNeverFailsTheWrite) {
    TempDir dir;
    const std::string path = (dir.Path() / "comm.bin").string();
    std::atomic<bool> stop{false};
    std::atomic<long> deleted{0};
    std::thread game([&] {
        while (!stop) {
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
            deleted += ::unlink(path.c_str()) == 0 ? 1 : 0;
        }
    });
    // Bounded: a checked-then-opened write meets the deletion within a few hundred rounds.
    std::string outcome = "(nothing raised)";
    for (int round = 0; round < 20000 && outcome == "(nothing raised)"; ++round) {
        outcome = Raised<std::exception>([&] { WriteFlagByte(path); });
    }
    stop = true;
    game.join();
    EXPECT_EQ(outcome, "(nothing raised)");
    EXPECT_GT(deleted.load(), 0) << "the game never got to delete the file";
}

} // namespace
