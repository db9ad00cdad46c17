#include "FileWrite.h"
#include "FormFixture.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>

#include <filesystem>

namespace {

const std::string Sep(21, '-');

std::string Blanks(size_t ACount) {
    return std::string(ACount, ' ');
}

using AddlineTest = FormFixture;

TEST_F(AddlineTest, FirstEntryIsTheUpperCasedLinePaddedToARowAndTheSeparator) {
    Form->Addline("(*joe*) hi");
    const std::string expected = "(*JOE*) HI" + Blanks(11) + Sep;
    EXPECT_EQ(expected.size(), 42u);
    EXPECT_EQ(Talo(), expected);
    EXPECT_EQ(Form->RichEdit2().Text(), expected);
}

struct EntryCase {
    const char* Why;
    std::string Line;
    std::string Entry;
};

TEST_F(AddlineTest, PadsEachEntryToWholeRows) {
    const EntryCase cases[] = {
        {"empty line: separator alone", "", Sep},
        {"one character", "a", "A" + Blanks(20) + Sep},
        {"20 characters", std::string(20, 'b'), std::string(20, 'B') + " " + Sep},
        {"exactly one row: no blanks", std::string(21, 'c'), std::string(21, 'C') + Sep},
        {"22 characters", std::string(22, 'd'), std::string(22, 'D') + Blanks(20) + Sep},
        {"25 characters: 17 blanks", std::string(25, 'e'), std::string(25, 'E') + Blanks(17) + Sep},
        {"exactly two rows", std::string(42, 'f'), std::string(42, 'F') + Sep},
    };
    for (bool backwards : {true, false}) {
        for (const EntryCase& c : cases) {
            SCOPED_TRACE(std::string(c.Why) + (backwards ? " (backwards)" : " (forwards)"));
            TForm1 form;
            form.CheckBox1->setChecked(backwards);
            form.Addline(c.Line);
            EXPECT_EQ(form.RichEdit2().Text(), c.Entry);
            EXPECT_EQ(Talo(), c.Entry);
            EXPECT_EQ(Talo().size() % 21, 0u);
        }
    }
}

TEST_F(AddlineTest, UpperCasesOnlyAToZ) {
    // Digits, punctuation, the bytes around the letter ranges ('`' and '{'), and non-ASCII
    // bytes (1252 and UTF-8 alike) stay as they are.
    const std::string line = "az`{09 AZ@[\xE9\xC3\xA9\xFF";
    Form->Addline(line);
    const std::string upper = "AZ`{09 AZ@[\xE9\xC3\xA9\xFF";
    EXPECT_EQ(Form->ListBox1().back(), upper);
    EXPECT_EQ(Talo(), upper + Blanks(21 - upper.size()) + Sep);
}

TEST_F(AddlineTest, BackwardsWritePutsTheNewestFirstAndSwitchingOffAppends) {
    Form->Addline("one");
    Form->Addline("two");
    const std::string one = "ONE" + Blanks(18) + Sep;
    const std::string two = "TWO" + Blanks(18) + Sep;
    const std::string three = "THREE" + Blanks(16) + Sep;
    const std::string four = "FOUR" + Blanks(17) + Sep;
    EXPECT_EQ(Talo(), two + one);

    Form->CheckBox1->setChecked(false);
    Form->Addline("three");
    Form->Addline("four");
    EXPECT_EQ(Talo(), two + one + three + four);

    Form->CheckBox1->setChecked(true);
    Form->Addline("");
    EXPECT_EQ(Talo(), Sep + two + one + three + four);
}

TEST_F(AddlineTest, ManyEntriesAtBothEndsKeepTheirOrder) {
    // Enough entries to make the output text grow its buffer at both ends several times.
    std::string front, back;
    for (int i = 0; i < 600; ++i) {
        const bool backwards = i % 3 != 0;
        Form->CheckBox1->setChecked(backwards);
        const std::string line = "line " + std::to_string(i);
        Form->Addline(line);
        const std::string entry = UpperCaseAscii(line) + Blanks(21 - line.size()) + Sep;
        if (backwards) {
            front = entry + front;
        } else {
            back += entry;
        }
    }
    EXPECT_EQ(Talo(), front + back);
    EXPECT_EQ(Form->ListBox1().size(), 600u);
    EXPECT_EQ(Form->ListBox1()[599], "LINE 599");
}

TEST_F(AddlineTest, AppendsTheLineToTheViewBehindAnEmptyFirstLine) {
    Form->Addline("first");
    Form->Addline("second \xC3\xA9");
    Form->Addline("third \xE9");
    const QTextDocument* doc = Form->RichEdit1->document();
    ASSERT_EQ(doc->blockCount(), 4);
    EXPECT_EQ(doc->findBlockByNumber(0).text(), QString());
    EXPECT_EQ(doc->findBlockByNumber(1).text(), QStringLiteral("first"));
    EXPECT_EQ(doc->findBlockByNumber(2).text(), QString::fromUtf8("second \xC3\xA9"));
    EXPECT_EQ(doc->findBlockByNumber(3).text(), QString::fromUtf8("third \xC3\xA9"));
    // The hidden list holds the original bytes, upper-cased.
    EXPECT_EQ(Form->ListBox1(),
              (std::vector<std::string>{"FIRST", "SECOND \xC3\xA9", "THIRD \xE9"}));
}

TEST_F(AddlineTest, GameFilesGetTheOriginalBytes) {
    const std::string line = "caf\xE9 \xC3\xA9";
    Form->Addline(line);
    EXPECT_EQ(Talo(), "CAF\xE9 \xC3\xA9" + Blanks(21 - line.size()) + Sep);
}

TEST_F(AddlineTest, CreatesTheFlagFileAsOneZeroByte) {
    ASSERT_FALSE(Exists("data/comm.bin"));
    Form->Addline("x");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
    Form->Addline("y");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
}

TEST_F(AddlineTest, ExistingFlagFileKeepsItsLengthAndLaterBytes) {
    Dir.WriteFile("data/comm.bin", "\x01\x02\x03\x04\x05");
    Form->Addline("x");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string("\0\x02\x03\x04\x05", 5));
}

TEST_F(AddlineTest, OutputFileIsRewrittenNotAppended) {
    Dir.WriteFile("data/talofile.txt", std::string(500, 'z'));
    Form->Addline("a");
    EXPECT_EQ(Talo(), "A" + Blanks(20) + Sep);
}

TEST_F(AddlineTest, MissingDataDirectoryFailsAfterTheScreenAndStoresAreUpdated) {
    std::filesystem::remove(Dir.Path() / "data");
    try {
        Form->Addline("lost");
        FAIL() << "Addline did not report the missing directory";
    } catch (const EFCreateError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find((Dir.Path() / "data/talofile.txt").string()), std::string::npos)
            << text;
        EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    }
    EXPECT_EQ(Form->RichEdit1->document()->lastBlock().text(), QStringLiteral("lost"));
    EXPECT_EQ(Form->ListBox1().back(), "LOST");
    EXPECT_EQ(Form->RichEdit2().Text(), "LOST" + Blanks(17) + Sep);

    // Once the directory is back, the next line writes both files with everything so far.
    std::filesystem::create_directory(Dir.Path() / "data");
    Form->Addline("found");
    EXPECT_EQ(Talo(), "FOUND" + Blanks(16) + Sep + "LOST" + Blanks(17) + Sep);
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
}

TEST_F(AddlineTest, UnopenableFilesNameTheFileAndTheReason) {
    struct Case {
        const char* Why;
        const char* Blocked;
        bool OpenError;
    };
    // A directory where a file should be cannot be opened for writing, even by root.
    const Case cases[] = {
        {"output file", "data/talofile.txt", false},
        {"existing flag file", "data/comm.bin", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        std::filesystem::create_directory(Dir.Path() / c.Blocked);
        try {
            Form->Addline("x");
            ADD_FAILURE() << "no error";
        } catch (const EFileError& e) {
            const std::string text = e.what();
            EXPECT_EQ(dynamic_cast<const EFOpenError*>(&e) != nullptr, c.OpenError) << text;
            EXPECT_NE(text.find((Dir.Path() / c.Blocked).string()), std::string::npos) << text;
            EXPECT_NE(text.find("Is a directory"), std::string::npos) << text;
        }
        std::filesystem::remove(Dir.Path() / c.Blocked);
    }
}

TEST_F(AddlineTest, FileFailureInAButtonHandlerReachesTheErrorDisplay) {
    std::filesystem::remove(Dir.Path() / "data");
    // Clear Logs writes only IRC.log, which does not need data/; block it instead.
    std::filesystem::create_directory(Dir.Path() / "IRC.log");
    Form->Button_clrlogs->click();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find("IRC.log"), std::string::npos) << Errors[0];
    EXPECT_NE(Errors[0].find("Is a directory"), std::string::npos) << Errors[0];
}

} // namespace
