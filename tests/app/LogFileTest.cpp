#include "FormFixture.h"
#include "StreamReader.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {

namespace fs = std::filesystem;

// Every field of the saved log view, as ReadStream renders them: the view's geometry and tab
// order, its lines as "type:bytes" (the property is left out when there are none), and
// "Visible" stored only while the view is hidden.
std::vector<std::string> LogView(const std::vector<std::string>& ALines, bool AVisible = false) {
    std::vector<std::string> rows = {"TRichEdit RichEdit1", "Left 2:16", "Top 2:40", "Width 3:737",
                                     "Height 3:545"};
    if (!ALines.empty()) {
        rows.push_back("Lines.Strings 1:");
        for (const std::string& line : ALines) {
            rows.push_back("  " + line);
        }
    }
    rows.insert(rows.end(), {"ScrollBars 7:ssVertical", "TabOrder 2:5"});
    if (!AVisible) {
        rows.push_back("Visible 8:");
    }
    return rows;
}

// The view saved on closing: the empty first line, ALines, the session end.
std::vector<std::string> ClosedLog(std::vector<std::string> ALines, bool AVisible = false) {
    ALines.insert(ALines.begin(), "6:");
    ALines.push_back("6:***SESSION END***");
    return LogView(ALines, AVisible);
}

struct LogFileTest : FormFixture {
    std::vector<std::string> Saved() const { return ReadStream(Dir.ReadFile("IRC.log")); }
};

TEST_F(LogFileTest, ClosingSavesTheLogicalLinesWithTheSmallestStringType) {
    const std::string a255(255, 'a'), b256(256, 'b'), d300(300, 'd');
    const struct {
        const char* Why;
        std::vector<std::string> Logged;
        std::vector<std::string> Saved;
    } cases[] = {
        {"short ASCII line", {"hello"}, {"6:hello"}},
        {"255 bytes still fit a short string", {a255}, {"6:" + a255}},
        {"256 bytes need the long string", {b256}, {"12:" + b256}},
        {"valid UTF-8 is stored as is", {"caf\xC3\xA9"}, {"20:caf\xC3\xA9"}},
        {"long 1252 line in UTF-8", {d300 + "\xE9\x80"}, {"20:" + d300 + "\xC3\xA9\xE2\x82\xAC"}},
        // Split at CR LF, lone CR and lone LF; LF CR is two breaks, and a line's final CR does
        // not pair with the CR LF that starts the next line.
        {"breaks within lines",
         {"", "a\r\nb\nc\rd\n\re\r", "f"},
         {"6:", "6:a", "6:b", "6:c", "6:d", "6:", "6:e", "6:", "6:f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        TForm1 form;
        for (const std::string& line : c.Logged) {
            form.Addline(line);
        }
        EXPECT_TRUE(form.close());
        EXPECT_EQ(Saved(), ClosedLog(c.Saved));
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(LogFileTest, ClearLogsSavesAnEmptyViewAndAFailedSaveLeavesTheButtonWorking) {
    Form->Addline("one");
    Form->Addline("two");
    Dir.WriteFile("IRC.log", std::string(1000, 'x'));
    Form->Button_clrlogs->click();
    EXPECT_EQ(Saved(), LogView({}));
    EXPECT_TRUE(Form->ListBox1().empty());
    EXPECT_TRUE(Form->RichEdit1->toPlainText().isEmpty());
    EXPECT_EQ(Form->RichEdit2().Length(), 84u); // the game output text is kept
    Form->RichEdit1->show();                    // the chat layout
    Form->Button_clrlogs->click();
    EXPECT_EQ(Saved(), LogView({}, true));
    // The next line starts a fresh log.
    Form->Addline("three");
    ASSERT_TRUE(Form->close());
    EXPECT_EQ(Saved(), ClosedLog({"6:three"}, true));
    // A failure of the handler is shown, and the next click works once the file can be written.
    fs::remove(Dir.Path() / "IRC.log");
    fs::create_directory(Dir.Path() / "IRC.log"); // a directory cannot be written, even by root
    Form->Button_clrlogs->click();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors[0], {"IRC.log", "Is a directory"})) << Errors[0];
    fs::remove(Dir.Path() / "IRC.log");
    Form->Button_clrlogs->click();
    EXPECT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Saved(), LogView({}, true));
}

TEST_F(LogFileTest, ClosingAlwaysClosesAndShowsEachFileThatCannotBeWritten) {
    Form->Addline("before");
    fs::remove_all(Dir.Path() / "data");
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors[0], {"data/talofile.txt", "No such file"})) << Errors[0];
    // The session end reached the screen before the file write failed, so it is saved too.
    EXPECT_EQ(Saved(), ClosedLog({"6:before"}));

    // Nothing at all can be written.
    fs::remove(Dir.Path() / "IRC.log");
    fs::create_directory(Dir.Path() / "IRC.log");
    TForm1 form;
    form.show();
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(Errors.size(), 3u);
    EXPECT_TRUE(Mentions(Errors[1], {"talofile.txt"})) << Errors[1];
    EXPECT_TRUE(Mentions(Errors[2], {"IRC.log", "Is a directory"})) << Errors[2];
}

} // namespace
