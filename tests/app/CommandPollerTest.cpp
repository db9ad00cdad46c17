// The game's command file through the real window: what each tick sends to the (loopback)
// server, what it logs, and what becomes of the file.
#include "CommandPoller.h"
#include "BridgeFixture.h"

#include <filesystem>
#include <optional>

namespace {

using CommandPollerTest = BridgeFixture;

constexpr const char* Game = "data/X.txt";

TEST_F(CommandPollerTest, FloodgateAndCommandsTickByTick) {
    // Each tick either finds a file with this text or finds none (nullopt). The first tick of
    // a run counts as following a file.
    using Ticks = std::vector<std::optional<std::string>>;
    const auto none = std::nullopt;
    const struct {
        const char* Why;
        Ticks Files;
        std::vector<std::string> Logged;
        std::vector<std::string> Sent;
    } rows[] = {
        {"first tick: a SAY with new text is sent, lower-cased",
         {"SAY Hello"},
         {"(*tester*) hello"},
         {"PRIVMSG #velmor :hello"}},
        {"first tick: an empty SAY repeats the empty last text", {"SAY"}, {"!!!FLOODGATE!!!"}, {}},
        {"first tick: an ACTION is refused", {"ACTION waves"}, {"!!!FLOODGATE!!!"}, {}},
        {"a SAY repeated on the very next tick is refused",
         {none, "SAY hi", "SAY hi"},
         {"(*tester*) hi", "!!!FLOODGATE!!!"},
         {"PRIVMSG #velmor :hi"}},
        {"a SAY repeated after a tick without a file is sent again",
         {none, "SAY hi", none, "SAY hi"},
         {"(*tester*) hi", "(*tester*) hi"},
         {"PRIVMSG #velmor :hi", "PRIVMSG #velmor :hi"}},
        {"a new SAY on the next tick is sent",
         {none, "SAY hi", "SAY ho"},
         {"(*tester*) hi", "(*tester*) ho"},
         {"PRIVMSG #velmor :hi", "PRIVMSG #velmor :ho"}},
        {"an ACTION on the tick after a file is refused, even with new text",
         {none, "SAY hi", "ACTION waves"},
         {"(*tester*) hi", "!!!FLOODGATE!!!"},
         {"PRIVMSG #velmor :hi"}},
        {"an ACTION repeating the last SAY is refused however late",
         {none, "SAY Hi", none, none, none, "ACTION hI"},
         {"(*tester*) hi", "!!!FLOODGATE!!!"},
         {"PRIVMSG #velmor :hi"}},
        {"an ACTION is logged as written and sent lower-cased",
         {none, "ACTION Waves AT You"},
         {"*tester Waves AT You"},
         {"PRIVMSG #velmor :\x01"
          "ACTION waves at you\x01"}},
        {"SAYING is a SAY whose text starts after its fourth character",
         {none, "SAYING x"},
         {"(*tester*) ng x"},
         {"PRIVMSG #velmor :ng x"}},
        {"a trailing line break is no part of the text",
         {none, "ACTION waves\r\n"},
         {"*tester waves"},
         {"PRIVMSG #velmor :\x01"
          "ACTION waves\x01"}},
        {"every trailing CR and LF goes, inner ones stay",
         {none, "SAY a\nb\r\n\n"},
         {"(*tester*) a", "b"},
         {"PRIVMSG #velmor :a", "PRIVMSG #velmor :b"}},
        {"bytes beyond ASCII pass unchanged",
         {none, "SAY Ça VA"},
         {"(*tester*) Ça va"},
         {"PRIVMSG #velmor :Ça va"}},
        {"WHO with only the client listed sends nothing",
         {"WHO"},
         {"USERS ON CHANNEL: TESTER"},
         {}},
    };
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        // A fresh run each time: new window, new poller values, new connection.
        Form.reset();
        Form = std::make_unique<TForm1>();
        Form->Timer1->stop();
        if (round > 0) {
            Server.NextConnection();
        }
        TypeConnect(QStringLiteral("tester"), QStringLiteral("127.0.0.1"),
                    QString::number(Server.Port()));
        ASSERT_TRUE(Server.WaitForReceived("USER ", std::chrono::milliseconds(10000), round));
        Server.Send(":irc.brisal.test 001 tester :Welcome\r\n"
                    ":irc.brisal.test 353 tester = #velmor :tester\r\n"
                    ":irc.brisal.test 366 tester #velmor :End\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 1; }));
        for (const auto& file : row.Files) {
            if (file) {
                Dir.WriteFile(Game, *file);
            }
            Tick();
            EXPECT_FALSE(std::filesystem::exists(Game));
            EXPECT_EQ(Form->RichEdit3->toPlainText(), QString());
        }
        // The echo's pieces: a logged line with a break of its own shows as two rows.
        std::vector<std::string> logged = Lines();
        if (!logged.empty()) {
            logged.erase(logged.begin()); // the log's empty first line
        }
        EXPECT_EQ(logged, row.Logged);
        const std::string marker = "PING :row" + std::to_string(round);
        std::vector<std::string> sent;
        Form->IRCbot->SendLine(marker);
        ASSERT_TRUE(
            Server.WaitForReceived(marker + "\r\n", std::chrono::milliseconds(10000), round));
        const std::string received = Server.Received(round);
        for (size_t at = 0, end; (end = received.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            if (received.compare(at, 8, "PRIVMSG ") == 0) {
                sent.push_back(received.substr(at, end - at));
            }
        }
        EXPECT_EQ(sent, row.Sent);
        ++round;
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(CommandPollerTest, WhoListsTheNickRowsFromLastToFirst) {
    const struct {
        const char* Why;
        QStringList Rows;
        std::string Expected;
    } rows[] = {
        {"empty list", {}, "USERS ON CHANNEL:"},
        {"descending, upper-cased ASCII only",
         {"alice", "Bob", "éclair"},
         "USERS ON CHANNEL: éCLAIR BOB ALICE"},
        {"marks stay", {"@op", "+voiced", "plain"}, "USERS ON CHANNEL: PLAIN +VOICED @OP"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Form->ListBox2->clear();
        for (const QString& nick : row.Rows) {
            Form->ListBox2->Add(nick);
        }
        Dir.WriteFile(Game, "WHO");
        Tick();
        EXPECT_EQ(LastLine(), row.Expected);
        EXPECT_FALSE(std::filesystem::exists(Game));
    }
}

TEST_F(CommandPollerTest, UnrecognisedTextStaysAndIsReadAgain) {
    for (const char* text : {"say hi", "SA", "", "HELLO"}) {
        SCOPED_TRACE(text);
        Dir.WriteFile(Game, text);
        Tick();
        Tick();
        EXPECT_TRUE(std::filesystem::exists(Game));
        EXPECT_EQ(Form->RichEdit3->toPlainText(), QString::fromUtf8(text));
        EXPECT_EQ(TimerTicks, 0);
        EXPECT_EQ(Form->LogLines().Count(), 0u);
    }
}

TEST_F(CommandPollerTest, AFileThatCannotBeReadIsTriedAgainOnTheNextTick) {
    // A directory where the file should be: it exists, but reading it fails.
    std::filesystem::create_directory(Dir.Path() / Game);
    Tick();
    Tick();
    EXPECT_EQ(TimerTicks, 2); // not reset by a tick that could not read the file
    EXPECT_EQ(Form->LogLines().Count(), 0u);
    std::filesystem::remove(Dir.Path() / Game);
    Dir.WriteFile(Game, "ACTION waves");
    Tick();
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_TRUE(Mentions(Errors.front(), {"data/X.txt"})) << Errors.front();
    // Not connected: the nick the component would register with.
    EXPECT_EQ(LastLine(), "*Rivozuzove waves");
    EXPECT_FALSE(std::filesystem::exists(Game));
}

// Issue: with the game holding its output file, the echo fails; the line must count as sent
// all the same, or it goes to the channel again on every tick.
TEST_F(CommandPollerTest, ALockedGameFileNeverMakesTheLineGoOutAgain) {
    LogIn();
    ASSERT_FALSE(HasFatalFailure());
    std::filesystem::create_directory(Dir.Path() / "data/talofile.txt");
    Dir.WriteFile(Game, "SAY just once");
    for (int tick = 0; tick < 4; ++tick) {
        Tick();
    }
    EXPECT_FALSE(std::filesystem::exists(Game));
    EXPECT_EQ(LastSentLine, "just once");
    EXPECT_EQ(Sent("PRIVMSG", "PING :done"),
              std::vector<std::string>{"PRIVMSG #velmor :just once"});
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    // The log on screen has it, and the game's file gets it with the next line it can write.
    EXPECT_EQ(LastLine(), "(*tester*) just once");
}

} // namespace
