// The game's command file through the real window: what each tick sends to the (loopback)
// server, what it logs, and what becomes of the file.
#include "CommandPoller.h"
#include "BridgeFixture.h"

#include <filesystem>
#include <sstream>

namespace {

using CommandPollerTest = BridgeFixture;

constexpr const char* Game = "data/X.txt";

TEST_F(CommandPollerTest, FloodgateAndCommandsTickByTick) {
    LogIn();
    // A fresh run each row, whose first tick counts as following a file.
    const struct {
        const char* Why;
        std::string Ticks;  // the file each tick finds, "-" for none, each followed by "|"
        std::string Logged; // each line followed by "|"
        std::string Sent;   // each message's text followed by "|"
    } rows[] = {
        {"first tick: a new SAY is sent, ASCII lower-cased", "SAY Hello Ça VA|",
         "(*tester*) hello Ça va|", "hello Ça va|"},
        {"first tick: an empty SAY repeats the empty last text", "SAY|", "!!!FLOODGATE!!!|", ""},
        {"a SAY repeated on the next tick", "-|SAY hi|SAY hi|", "(*tester*) hi|!!!FLOODGATE!!!|",
         "hi|"},
        {"a SAY repeated after a tick without a file", "-|SAY hi|-|SAY hi|",
         "(*tester*) hi|(*tester*) hi|", "hi|hi|"},
        {"a new SAY on the next tick", "-|SAY hi|SAY ho|", "(*tester*) hi|(*tester*) ho|",
         "hi|ho|"},
        {"a new ACTION on the next tick", "-|SAY hi|ACTION waves|",
         "(*tester*) hi|!!!FLOODGATE!!!|", "hi|"},
        {"an ACTION repeating the last SAY however late", "-|SAY Hi|-|-|ACTION hI|",
         "(*tester*) hi|!!!FLOODGATE!!!|", "hi|"},
        {"an ACTION is logged as written, sent lower-cased, without its trailing line break",
         "-|ACTION Waves AT You\r\n|", "*tester Waves AT You|", "\1ACTION waves at you\1|"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        ResetCommandPoller();
        const size_t from = Form->LogLines().Count();
        std::istringstream ticks(row.Ticks);
        for (std::string file; std::getline(ticks, file, '|');) {
            file == "-" ? Tick() : GameSays(file);
            EXPECT_FALSE(std::filesystem::exists(Game));
        }
        std::string sent;
        for (const std::string& line : Sent("PRIVMSG")) {
            sent += line.substr(line.find(" :") + 2) + "|";
        }
        EXPECT_EQ(LoggedSince(from), row.Logged);
        EXPECT_EQ(sent, row.Sent);
    }
    // WHO lists the nick rows from last to first, upper-casing ASCII letters only.
    GameSays("WHO");
    EXPECT_EQ(LastLine(), "USERS ON CHANNEL:");
    for (const char* nick : {"alice", "@op", "Bob", "éclair", "+voiced"}) {
        Form->ListBox2->Add(QString::fromUtf8(nick));
    }
    GameSays("WHO");
    EXPECT_EQ(LastLine(), "USERS ON CHANNEL: éCLAIR BOB ALICE +VOICED @OP");
    EXPECT_TRUE(Errors.empty());
}

TEST_F(CommandPollerTest, WhatCannotBeUsedStaysAndIsReadAgainOnTheNextTick) {
    for (const char* text : {"say hi", "SA", ""}) {
        SCOPED_TRACE(text);
        GameSays(text);
        Tick();
        EXPECT_TRUE(std::filesystem::exists(Game));
        EXPECT_EQ(Form->RichEdit3->toPlainText(), QString::fromUtf8(text));
        EXPECT_EQ(TimerTicks, 0);
    }
    EXPECT_EQ(Form->LogLines().Count(), 0u);
    // A directory where the file should be: it exists, but reading it fails.
    std::filesystem::remove(Game);
    std::filesystem::create_directory(Game);
    Tick();
    Tick();
    EXPECT_EQ(TimerTicks, 2); // not reset by a tick that could not read the file
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_TRUE(Mentions(Errors.front(), {"data/X.txt"})) << Errors.front();
    std::filesystem::remove(Game);
    GameSays("ACTION waves");
    EXPECT_EQ(LastLine(), "*Rivozuzove waves"); // not connected: the nick it would register
    EXPECT_FALSE(std::filesystem::exists(Game));
}

// With the game holding its output file the echo fails; the line must count as sent all the
// same, or it goes to the channel again on every tick.
TEST_F(CommandPollerTest, ALockedGameFileNeverMakesTheLineGoOutAgain) {
    LogIn();
    std::filesystem::create_directory(Dir.Path() / "data/talofile.txt");
    GameSays("SAY just once");
    Tick();
    Tick();
    EXPECT_FALSE(std::filesystem::exists(Game));
    EXPECT_EQ(Sent("PRIVMSG"), std::vector<std::string>{"PRIVMSG #velmor :just once"});
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    EXPECT_EQ(LastLine(), "(*tester*) just once"); // the screen's log has it
}

} // namespace
