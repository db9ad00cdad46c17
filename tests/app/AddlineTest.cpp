#include "FileWrite.h"
#include "FormFixture.h"
#include "Waiting.h"

#include <QCheckBox>
#include <QPlainTextEdit>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

namespace fs = std::filesystem;
using TestSupport::Raised;

const std::string Sep(21, '-');

// The game output entry of a line of at most 21 characters, given upper-cased.
std::string Entry(const std::string& AUpper) {
    return AUpper + std::string(21 - AUpper.size(), ' ') + Sep;
}

using AddlineTest = FormFixture;

TEST_F(AddlineTest, PadsEachUpperCasedEntryToWholeRowsInBothDirections) {
    const struct {
        const char* Why;
        std::string Line;
        std::string Entry;
    } cases[] = {
        {"first entry of a session: 42 bytes", "(*joe*) hi",
         "(*JOE*) HI" + std::string(11, ' ') + Sep},
        {"empty line: separator alone", "", Sep},
        {"20 characters: one blank", std::string(20, 'b'), std::string(20, 'B') + " " + Sep},
        {"21 characters: exactly one row", std::string(21, 'c'), std::string(21, 'C') + Sep},
        {"22 characters", std::string(22, 'd'), std::string(22, 'D') + std::string(20, ' ') + Sep},
        {"25 characters", std::string(25, 'e'), std::string(25, 'E') + std::string(17, ' ') + Sep},
        // Only a-z change: the bytes around the letter ranges and non-ASCII bytes (1252 and
        // UTF-8 alike) reach the game file as they came.
        {"only a-z upper-cased", "az`{09 AZ@[\xE9\xC3\xA9\xFF",
         Entry("AZ`{09 AZ@[\xE9\xC3\xA9\xFF")},
    };
    // Every case's fresh window writes a file shorter than the one before it at least once,
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

TEST_F(AddlineTest, BackwardsWritePutsTheNewestFirstAndSwitchingItOffAppends) {
    Form->Addline("one");
    Form->Addline("two");
    EXPECT_EQ(Talo(), Entry("TWO") + Entry("ONE"));
    Form->CheckBox1->setChecked(false);
    Form->Addline("three");
    std::string front = Entry("TWO") + Entry("ONE"), back = Entry("THREE");
    EXPECT_EQ(Talo(), front + back);
    // Switching back and forth, enough to make the text grow its buffer at both ends.
    for (int i = 0; i < 600; ++i) {
        const bool backwards = i % 3 != 0;
        Form->CheckBox1->setChecked(backwards);
        Form->Addline("line " + std::to_string(i));
        const std::string entry = Entry("LINE " + std::to_string(i));
        backwards ? front.insert(0, entry) : back.append(entry);
    }
    EXPECT_EQ(Talo(), front + back);
}

TEST_F(AddlineTest, AppendsTheDecodedLineToTheViewBehindAnEmptyFirstLine) {
    Form->Addline("first");
    Form->Addline("second \xC3\xA9"); // UTF-8
    Form->Addline("third \xE9");      // Windows-1252
    EXPECT_EQ(Form->RichEdit1->toPlainText(),
              QString::fromUtf8("\nfirst\nsecond \xC3\xA9\nthird \xC3\xA9"));
    // The hidden list holds the original bytes, upper-cased.
    EXPECT_EQ(Form->ListBox1(),
              (std::vector<std::string>{"FIRST", "SECOND \xC3\xA9", "THIRD \xE9"}));
}

TEST_F(AddlineTest, FlagFileIsCreatedAsOneZeroByteAndAnExistingOneKeepsItsLaterBytes) {
    Form->Addline("x");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
    Dir.WriteFile("data/comm.bin", "\x01\x02\x03\x04\x05");
    Form->Addline("y");
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string("\0\x02\x03\x04\x05", 5));
    // An existing flag file is opened, not created: that failure is an open error. (A
    // directory cannot be opened for writing, even by root.)
    fs::remove(Dir.Path() / "data/comm.bin");
    fs::create_directory(Dir.Path() / "data/comm.bin");
    const std::string error = Raised<EFOpenError>([&] { Form->Addline("z"); });
    EXPECT_TRUE(Mentions(error, {(Dir.Path() / "data/comm.bin").string(), "Is a directory"}))
        << error;
}

TEST_F(AddlineTest, MissingDataDirectoryFailsAfterTheScreenAndStoresAreUpdated) {
    fs::remove(Dir.Path() / "data");
    const std::string error = Raised<EFCreateError>([&] { Form->Addline("lost"); });
    EXPECT_TRUE(Mentions(error, {(Dir.Path() / "data/talofile.txt").string(), "No such file"}))
        << error;
    EXPECT_EQ(Form->RichEdit1->toPlainText(), QStringLiteral("\nlost"));
    EXPECT_EQ(Form->ListBox1().back(), "LOST");
    EXPECT_EQ(Form->RichEdit2().Text(), Entry("LOST"));
    // Once the directory is back, the next line writes both files with everything so far.
    fs::create_directory(Dir.Path() / "data");
    Form->Addline("found");
    EXPECT_EQ(Talo(), Entry("FOUND") + Entry("LOST"));
    EXPECT_EQ(Dir.ReadFile("data/comm.bin"), std::string(1, '\0'));
}

// The game deletes and recreates data/comm.bin while the window writes its flag byte into it:
// the write must not fail when the file vanishes under it.
TEST(FlagFile, TheGameDeletingTheFileMeanwhileNeverFailsTheWrite) {
    TempDir dir;
    const std::string path = (dir.Path() / "comm.bin").string();
    std::atomic<bool> stop{false};
    std::atomic<long> deleted{0};
    std::thread game([&] { // puts a 3-byte file in place and deletes it, as fast as it can
        while (!stop) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            if (fd >= 0) {
                (void)!::write(fd, "\x01\x02\x03", 3);
                ::close(fd);
            }
            deleted += ::unlink(path.c_str()) == 0 ? 1 : 0;
        }
    });
    std::string failure;
    // Bounded: a checked-then-opened write meets the deletion within a few hundred rounds.
    for (int round = 0; round < 20000 && failure.empty(); ++round) {
        try {
            WriteFlagByte(path);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    stop = true;
    game.join();
    EXPECT_EQ(failure, "");
    EXPECT_GT(deleted.load(), 0) << "the game never got to delete the file";
}

} // namespace
