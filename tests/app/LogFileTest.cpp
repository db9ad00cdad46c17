#include "ComponentWriter.h"
#include "FormFixture.h"
#include "LogLines.h"
#include "StreamReader.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>

namespace {

struct Line {
    uint8_t Type;
    std::string Text;
};

// Checks every field of the saved view against the design; AVisible says whether "Visible"
// must be absent (shown) or present and false (hidden).
void ExpectLogView(const std::string& ABytes, const std::vector<Line>& ALines, bool AVisible) {
    const StreamObject o = StreamReader::Read(ABytes);
    EXPECT_EQ(o.ClassName, "TRichEdit");
    EXPECT_EQ(o.ObjectName, "RichEdit1");

    struct Expected {
        std::string Name;
        uint8_t Type;
        int64_t Integer;
        std::string Text;
    };
    std::vector<Expected> expected = {
        {"Left", 2, 16, ""}, {"Top", 2, 40, ""}, {"Width", 3, 737, ""}, {"Height", 3, 545, ""}};
    if (!ALines.empty()) {
        expected.push_back({"Lines.Strings", 1, 0, ""});
    }
    expected.push_back({"ScrollBars", 7, 0, "ssVertical"});
    expected.push_back({"TabOrder", 2, 5, ""});
    if (!AVisible) {
        expected.push_back({"Visible", 8, 0, ""});
    }
    ASSERT_EQ(o.Properties.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].Name);
        const StreamProperty& p = o.Properties[i];
        EXPECT_EQ(p.Name, expected[i].Name);
        EXPECT_EQ(p.Value.Type, expected[i].Type);
        EXPECT_EQ(p.Value.Integer, expected[i].Integer);
        EXPECT_EQ(p.Value.Text, expected[i].Text);
        if (p.Name == "Lines.Strings") {
            ASSERT_EQ(p.Value.Items.size(), ALines.size());
            for (size_t k = 0; k < ALines.size(); ++k) {
                SCOPED_TRACE("line " + std::to_string(k));
                EXPECT_EQ(p.Value.Items[k].Type, ALines[k].Type);
                EXPECT_EQ(p.Value.Items[k].Text, ALines[k].Text);
            }
        }
    }
}

const Line End{6, "***SESSION END***"};

using LogFileTest = FormFixture;

TEST_F(LogFileTest, ClosingSavesTheLogicalLinesWithTheSmallestStringType) {
    struct Case {
        const char* Why;
        std::vector<std::string> Logged;
        std::vector<Line> Saved; // after the empty first line, before the session end
    };
    const std::string ascii255(255, 'a'), ascii256(256, 'b'), ascii300(300, 'c');
    const std::string cp1252Long = std::string(299, 'd') + "\xE9";
    const Case cases[] = {
        {"nothing logged", {}, {}},
        {"short ASCII line", {"hello"}, {{6, "hello"}}},
        {"empty line", {""}, {{6, ""}}},
        {"255 bytes still fit a short string", {ascii255}, {{6, ascii255}}},
        {"256 bytes need the long string", {ascii256}, {{12, ascii256}}},
        {"over 255 bytes", {ascii300}, {{12, ascii300}}},
        {"valid UTF-8 is stored as is", {"caf\xC3\xA9"}, {{20, "caf\xC3\xA9"}}},
        {"1252 bytes are converted to UTF-8", {"caf\xE9 \x80"}, {{20, "caf\xC3\xA9 \xE2\x82\xAC"}}},
        {"long non-ASCII line", {cp1252Long}, {{20, std::string(299, 'd') + "\xC3\xA9"}}},
        {"a line with its own breaks is several lines",
         {"a\r\nb\nc\rd"},
         {{6, "a"}, {6, "b"}, {6, "c"}, {6, "d"}}},
        {"a line ending in a break", {"x\r\n", "y"}, {{6, "x"}, {6, ""}, {6, "y"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        TForm1 form;
        for (const std::string& line : c.Logged) {
            form.Addline(line);
        }
        EXPECT_TRUE(form.close());
        std::vector<Line> lines{{6, ""}};
        lines.insert(lines.end(), c.Saved.begin(), c.Saved.end());
        lines.push_back(End);
        ExpectLogView(Dir.ReadFile("IRC.log"), lines, false);
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(LogFileTest, ClosingBeforeAnyConnectionLogsTheSessionEndEverywhere) {
    ASSERT_TRUE(Form->close());
    EXPECT_EQ(Talo(), "***SESSION END***" + std::string(4, ' ') + std::string(21, '-'));
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
    ExpectLogView(Dir.ReadFile("IRC.log"), {{6, ""}, End}, false);
}

TEST_F(LogFileTest, ClearLogsLeavesAnEmptyViewNotAnAbsentFile) {
    Form->Addline("one");
    Form->Addline("two");
    Dir.WriteFile("IRC.log", std::string(1000, 'x'));
    Form->Button_clrlogs->click();
    ExpectLogView(Dir.ReadFile("IRC.log"), {}, false);
    EXPECT_TRUE(Form->ListBox1().empty());
    EXPECT_TRUE(Form->RichEdit1->toPlainText().isEmpty());
    // The game output text is not cleared, and the next line starts a fresh log.
    EXPECT_EQ(Form->RichEdit2().Length(), 84u);
    Form->Addline("three");
    ASSERT_TRUE(Form->close());
    ExpectLogView(Dir.ReadFile("IRC.log"), {{6, ""}, {6, "three"}, End}, false);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(LogFileTest, VisibleIsStoredOnlyWhileTheViewIsHidden) {
    Form->Button_clrlogs->click();
    ExpectLogView(Dir.ReadFile("IRC.log"), {}, false);
    Form->RichEdit1->show(); // the chat layout
    Form->Button_clrlogs->click();
    ExpectLogView(Dir.ReadFile("IRC.log"), {}, true);
}

TEST_F(LogFileTest, ClosingWithoutADataDirectoryShowsTheErrorAndStillClosesAndSaves) {
    Form->Addline("before");
    std::filesystem::remove_all(Dir.Path() / "data");
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find("data/talofile.txt"), std::string::npos) << Errors[0];
    EXPECT_NE(Errors[0].find("No such file or directory"), std::string::npos) << Errors[0];
    // The session end reached the screen before the file write failed, so it is saved too.
    ExpectLogView(Dir.ReadFile("IRC.log"), {{6, ""}, {6, "before"}, End}, false);
}

TEST_F(LogFileTest, ClosingWhenNothingCanBeWrittenStillCloses) {
    std::filesystem::remove(Dir.Path() / "data");
    std::filesystem::create_directory(Dir.Path() / "IRC.log");
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_NE(Errors[0].find("talofile.txt"), std::string::npos) << Errors[0];
    EXPECT_NE(Errors[1].find("IRC.log"), std::string::npos) << Errors[1];
}

TEST(ComponentWriter, IntegersTakeTheSmallestSignedWidth) {
    struct Case {
        int32_t Value;
        std::string Bytes;
    };
    const Case cases[] = {
        {0, std::string("\x02\x00", 2)},
        {127, "\x02\x7F"},
        {-128, "\x02\x80"},
        {128, std::string("\x03\x80\x00", 3)},
        {-129, "\x03\x7F\xFF"},
        {737, "\x03\xE1\x02"},
        {32767, "\x03\xFF\x7F"},
        {-32768, std::string("\x03\x00\x80", 3)},
        {32768, std::string("\x04\x00\x80\x00\x00", 5)},
        {-32769, "\x04\xFF\x7F\xFF\xFF"},
        {INT32_MIN, std::string("\x04\x00\x00\x00\x80", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Value);
        TComponentWriter w;
        w.WriteInteger(c.Value);
        EXPECT_EQ(w.Bytes(), c.Bytes);
    }
}

TEST(LogLines, CountsLinesTheWayAStringListSplitsTheText) {
    struct Case {
        const char* Why;
        std::vector<std::string> Appended;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {"empty text has no lines", {}, {}},
        {"one line behind the empty first line", {"a"}, {"", "a"}},
        {"an empty line is one empty line", {""}, {""}},
        {"two empty lines", {"", ""}, {"", ""}},
        {"trailing CR LF starts no line", {"a\r\n"}, {"", "a"}},
        {"lone CR and LF split", {"a\rb\nc"}, {"", "a", "b", "c"}},
        {"LF CR is two breaks", {"a\n\rb"}, {"", "a", "", "b"}},
        {"a line's final CR does not pair with the next break", {"a\r", "b"}, {"", "a", "", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        TLogLines lines;
        for (const std::string& s : c.Appended) {
            lines.Append(s);
        }
        std::vector<std::string> got;
        for (size_t i = 0; i < lines.Count(); ++i) {
            got.push_back(lines[i]);
        }
        EXPECT_EQ(got, c.Lines);
        lines.Clear();
        EXPECT_EQ(lines.Count(), 0u);
    }
}

} // namespace
