// The real window through its own controls, against a loopback server playing the IRC server
// with recorded lines.
#include "CommandPoller.h"
#include "FormFixture.h"
#include "LoopbackServer.h"
#include "SortedListBox.h"

#include <IdIRC.h>
#include <IdMainThreadQueue.h>

#include <sstream>

namespace {

namespace fs = std::filesystem;

class BridgeTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Form->IRCbot->SetSendInterval(0); // Sent() waits outside the event loop that paces
    }

    void Tick() { QMetaObject::invokeMethod(Form->Timer1, "timeout", Qt::DirectConnection); }
    void GameSays(const std::string& AText) {
        Dir.WriteFile(CommandFile, AText);
        Tick();
    }
    // The server welcomes "me" and confirms the join with al (op) and bob (voice).
    void LogInAndJoin() {
        TypeConnect(QStringLiteral("me"), QString::number(Server.Port()));
        Server.WaitFor("USER ").Send(":irc.brisal.test 001 me :Welcome\r\n");
        Form->Button_join->click();
        Server.WaitFor("JOIN #velmor\r\n")
            .Send(":me!t@h JOIN #velmor\r\n:irc.brisal.test 353 me = #velmor :me @al +bob\r\n"
                  ":irc.brisal.test 366 me #velmor :End of NAMES list\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 3; }));
    }
    // The log's lines from AFrom on (past the empty first line), each followed by "|".
    std::string LoggedSince(size_t AFrom) const {
        std::string lines;
        for (size_t i = std::max<size_t>(AFrom, 1); i < Form->LogLines().Count(); ++i) {
            lines += Form->LogLines()[i] + "|";
        }
        return lines;
    }
    // What follows APrefix in each line the client sent since the previous call, each followed
    // by "|". A marker sent last proves that everything before it has arrived.
    std::string Sent(const std::string& APrefix) {
        const std::string marker = "PING :marker" + std::to_string(FSeen);
        Form->IRCbot->SendLine(marker);
        EXPECT_TRUE(Server.WaitForReceived(marker + "\r\n"));
        std::istringstream received(Server.Received().substr(FSeen));
        FSeen = Server.Received().size();
        std::string lines;
        for (std::string line; std::getline(received, line);) { // each ends in CR
            if (line.rfind(APrefix, 0) == 0) {
                lines += line.substr(APrefix.size(), line.size() - APrefix.size() - 1) + "|";
            }
        }
        return lines;
    }

    LoopbackServer Server;
    size_t FSeen = 0;
};

TEST_F(BridgeTest, WhatCannotBeConnectedToOrJoinedIsRefusedAndAJoinWaitsForTheWelcome) {
    const struct {
        const char *Why, *Nick, *Port, *Says;
    } connects[] = {
        {"the default nickname", "Brisal", "6667", "Please, change your nickname!"},
        {"not a number", "joe", "66a7", "'66a7' is not a valid integer value"},
        {"just past the last port, not wrapped to 0", "joe", "65536", "'65536' is not a port: a"},
        {"zero", "joe", "0", "'0' is not a port"},
        {"the TLS mark is not a sign to repeat", "joe", "++6697", "'++6697' is not a valid"},
    };
    for (const auto& row : connects) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        TypeConnect(QString::fromLatin1(row.Nick), QString::fromLatin1(row.Port));
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_EQ(Errors[0].rfind(row.Says, 0), 0u) << Errors[0];
        EXPECT_FALSE(Form->Button_connect->isHidden());
    }
    TypeConnect(QStringLiteral("me"), QString::number(Server.Port()));
    EXPECT_EQ(Status(), "Connected to IRC server!");
    EXPECT_GE(Form->Label1->width(), Form->Label1->sizeHint().width()); // not cut to "Conne"
    const struct {
        const char *Why, *Channel, *Says;
    } joins[] = {
        {"no prefix: it would be a nick", "velmor", "(for example #velmor)"},
        {"prefix alone", "#", "needs more than its prefix"},
        {"a blank would make a key of the rest", "#vel mor", "no blanks"},
    };
    for (const auto& row : joins) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        Form->ed_channel->setText(QString::fromLatin1(row.Channel));
        Form->Button_join->click();
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_TRUE(Mentions(Errors[0], {row.Says})) << Errors[0];
        EXPECT_FALSE(Form->Button_join->isHidden()); // still the join layout
    }
    // Nor does the game's line go to the refused text, which would be someone's nick.
    Tick(); // the first tick of a run counts as following a file
    GameSays("SAY psst");
    EXPECT_FALSE(fs::exists(CommandFile));
    EXPECT_EQ(Sent("PRIVMSG "), "");

    Form->ed_channel->setText(QStringLiteral("#velmor"));
    Form->Button_join->click();
    EXPECT_EQ(Form->ChatState(), TForm1::chJoinHeld);
    EXPECT_EQ(Sent("JOIN "), "");
    Server.Send(":irc.brisal.test 001 me :Welcome\r\n");
    EXPECT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chJoining; }));
    EXPECT_EQ(Sent("JOIN "), "#velmor|");
    // The server refuses it: the log, the game's file and the input line say why.
    Server.Send(":irc.brisal.test 474 me #velmor :Cannot join channel (+b)\r\n");
    const std::string refused = "**Cannot join #velmor: Cannot join channel (+b)";
    ASSERT_TRUE(WaitFor([&] { return LastLine() == refused; })) << LastLine();
    EXPECT_NE(Talo().find(UpperCaseAscii(refused)), std::string::npos);
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("(+b)")));

    // Nothing listens where a closed server was, and a server that closes after the client's
    // USER is no IRC server: each is reported, and not tried again.
    const auto reportedAndNotTried = [&] {
        EXPECT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chConnectionEnded; }))
            << Status();
        EXPECT_FALSE(Form->Button_join->isEnabled());
        EXPECT_FALSE(Form->ReconnectTimer->isActive());
    };
    Form = std::make_unique<TForm1>();
    TypeConnect(QStringLiteral("me"), QString::number(LoopbackServer().Port()));
    reportedAndNotTried();
    LoopbackServer closing;
    Form = std::make_unique<TForm1>();
    TypeConnect(QStringLiteral("me"), QString::number(closing.Port()));
    closing.WaitFor("USER ").Close(); // only now: a close while connecting fails the connect
    reportedAndNotTried();
}

TEST_F(BridgeTest, EachServerLineIsLoggedUntilAKickAndTheServersClose) {
    LogInAndJoin();
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@al", "+bob", "me"}));
    // Op and voice give two rows. The locale's order: marks and punctuation before letters,
    // accents beside their base letter, case ignored; not by code point, after "Zed".
    Server.Send(":irc.brisal.test 353 me = #velmor :@+dave Zed {brace} |pipe éclair Alpha\r\n"
                ":irc.brisal.test 366 me #velmor :End of NAMES list\r\n");
    EXPECT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 10; }));
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"{brace}", "@al", "@dave", "+bob", "+dave",
                                                    "|pipe", "Alpha", "éclair", "me", "Zed"}));
    const struct {
        const char* Why;
        std::string Line;
        std::string Expected; // the lines it logs, each followed by "|"
    } rows[] = {
        {"message", ":al!a@h PRIVMSG #velmor :hi there", "(al) hi there|"},
        {"action", ":al!a@h PRIVMSG #velmor :\1ACTION waves\1", "*al waves|"},
        {"notice from a user", ":al!a@h NOTICE #velmor :hi all", "-<al>- hi all|"},
        {"notice from the server", ":irc.brisal.test NOTICE me :maint", "*-*maint|"},
        // A channel the client does not track is named as the line names it, or left out.
        {"topic of another channel", ":irc.brisal.test 332 me #o :old", "**Topic for #o is: old.|"},
        {"kick in another channel", ":al!a@h KICK #o bob", "**bob has been kicked off of  by al.|"},
        {"part of another channel", ":me!t@h PART #o", "**You have left .|"},
        {"away", ":irc.brisal.test 301 me al :lunch", "*al is now away.|"},
        {"unaway", ":irc.brisal.test 305 me :Back", "*Now unaway: Back|"},
        {"channel modes, in order", ":al!a@h MODE #velmor +o-o+v-v+b-b me al bob me m n",
         "-al sets mode +o me on channel #velmor.|-al sets mode -o al on channel #velmor.|"
         "-al sets mode +v bob on channel #velmor.|-al sets mode -v me on channel #velmor.|"
         "-al bans m on channel #velmor.|-al unbans n on channel #velmor.|"},
        {"unknown nick", ":al!a@h MODE #velmor +o ghost", "-al sets mode +o  on channel #velmor.|"},
        {"user mode", ":me MODE me :+i", "-- Usermodes are: +i|-- Usermodes have changed --|"},
        {"join", ":cy!c@h JOIN #velmor", "**cy has joined #velmor.|"},
        {"topic set", ":al!a@h TOPIC #velmor :Raid at 9",
         "**al sets topic for #velmor to: Raid at 9.|"},
        {"kick", ":al!a@h KICK #velmor cy :enough", "**cy has been kicked off of #velmor by al.|"},
        {"part", ":al!a@h PART #velmor :later", "**al has left #velmor|"},
        {"not shown", ":al!a@h INVITE me #elsewhere", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        const size_t from = Form->LogLines().Count();
        // A message after the row's line shows that everything the row caused has arrived.
        const std::string marker = "(end) " + std::string(row.Why);
        Server.Send(row.Line + "\r\n:end!e@h PRIVMSG #velmor :" + row.Why + "\r\n");
        ASSERT_TRUE(WaitFor([&] { return LastLine() == marker; })) << LoggedSince(0);
        EXPECT_EQ(LoggedSince(from), row.Expected + marker + "|");
    }
    EXPECT_TRUE(Errors.empty());

    // A handler's failed write is shown and the reader goes on; nothing logged is lost.
    Block("data/talofile.txt"); // as if the game held it
    Server.Send(":al!a@h PRIVMSG #velmor :one\r\n:al!a@h PRIVMSG #velmor :two\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(al) two" && !Errors.empty(); }));
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    fs::remove(Dir.Path() / "data/talofile.txt");
    Server.Send(":al!a@h KICK #velmor me :behave\r\n");
    ASSERT_TRUE(
        WaitFor([&] { return LastLine() == "**You have been kicked off of #velmor by al."; }));
    EXPECT_NE(Talo().find("(AL) ONE"), std::string::npos);
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("kicked by al")));

    // The close itself logs nothing; while away, nobody is listed as there. A closed window
    // tries nothing more.
    ASSERT_GT(Form->ListBox2->count(), 0);
    Server.Send(":al!a@h PRIVMSG #velmor :last words\r\n").Close();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chReconnectWait; }));
    EXPECT_TRUE(
        Mentions(Status(), {"Connection lost: Connection Closed Gracefully.", "(attempt 1)"}))
        << Status();
    EXPECT_EQ(LastLine(), "(al) last words");
    EXPECT_EQ(Form->ListBox2->count(), 0);
    ASSERT_TRUE(Form->ReconnectTimer->isActive());
    Form->close();
    EXPECT_FALSE(Form->ReconnectTimer->isActive());
}

// Closing the window while the reader waits in a read, and while lines it read wait for the
// window's thread: no hang, no crash, the connection closed, and the game's file whole, with
// the session's end on top.
TEST_F(BridgeTest, ClosingWhileTheReaderWaitsOrItsLinesArePending) {
    for (const bool pending : {false, true}) {
        SCOPED_TRACE(pending ? "lines pending for the window's thread" : "the reader in a read");
        LoopbackServer server;
        Form.reset(); // one window at a time: each takes over the queue's wake-up
        Form = std::make_unique<TForm1>();
        Form->Timer1->stop();
        TypeConnect(QStringLiteral("me"), QString::number(server.Port()));
        server.WaitFor("USER ").Send(
            ":irc.brisal.test 001 me :Welcome\r\n:irc.brisal.test NOTICE me :first\r\n");
        ASSERT_TRUE(WaitFor([&] { return LastLine() == "*-*first"; })) << LastLine();
        if (pending) {
            server.Send(":irc.brisal.test NOTICE me :unseen\r\n");
            ASSERT_TRUE(TestSupport::WaitUntil(
                [] { return TIdMainThreadQueue::Instance().PendingCount() > 0; }));
        }
        TestSupport::Watchdog watchdog("closing the window");
        Form->close();
        Form.reset();
        EXPECT_TRUE(server.WaitForClientClose());
        EXPECT_EQ(Talo().substr(0, 17), "***SESSION END***");
        EXPECT_NE(Talo().find("*-*FIRST"), std::string::npos) << Talo();
    }
}

TEST_F(BridgeTest, TheGamesCommandFileTickByTick) {
    LogInAndJoin();
    // A fresh run each row, whose first tick counts as following a file. A SAY is refused when
    // it repeats the last text on the tick after a file, an ACTION when either holds. Text that
    // is no command stays, read again each tick.
    const struct {
        const char* Why;
        std::string Ticks;  // the file each tick finds, "-" for none, each followed by "|"
        std::string Logged; // each line followed by "|"
        std::string Sent;   // each message's text followed by "|"
    } rows[] = {
        {"first tick, new SAY", "SAY Hello Ça VA|", "(*me*) hello Ça va|", "hello Ça va|"},
        {"first tick, empty SAY: the empty last text", "SAY|", "!!!FLOODGATE!!!|", ""},
        {"SAY repeated next tick", "-|SAY hi|SAY hi|", "(*me*) hi|!!!FLOODGATE!!!|", "hi|"},
        {"SAY repeated after a gap", "-|SAY hi|-|SAY hi|", "(*me*) hi|(*me*) hi|", "hi|hi|"},
        {"new SAY next tick", "-|SAY hi|SAY ho|", "(*me*) hi|(*me*) ho|", "hi|ho|"},
        {"new ACTION next tick", "-|SAY hi|ACTION waves|", "(*me*) hi|!!!FLOODGATE!!!|", "hi|"},
        {"ACTION repeats a SAY", "-|SAY Hi|-|ACTION hI|", "(*me*) hi|!!!FLOODGATE!!!|", "hi|"},
        {"ACTION as written, sent lower-cased, no break", "-|ACTION Waves AT You\r\n|",
         "*me Waves AT You|", "\1ACTION waves at you\1|"},
        {"WHO: the nick rows last to first", "WHO|", "USERS ON CHANNEL: ME +BOB @AL|", ""},
        {"no command: lower case, a part, empty", "say hi|SA||", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        ResetCommandPoller();
        const size_t from = Form->LogLines().Count();
        std::istringstream ticks(row.Ticks);
        for (std::string file; std::getline(ticks, file, '|');) {
            file == "-" ? Tick() : GameSays(file);
            EXPECT_EQ(fs::exists(CommandFile), row.Logged.empty());
        }
        EXPECT_EQ(TimerTicks, 0);
        EXPECT_EQ(LoggedSince(from), row.Logged);
        EXPECT_EQ(Sent("PRIVMSG #velmor :"), row.Sent);
    }
    EXPECT_TRUE(Errors.empty());

    Block(CommandFile); // it exists, but reading it fails
    Tick();
    Tick();
    EXPECT_EQ(TimerTicks, 2); // not reset by a tick that could not read the file
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_TRUE(Mentions(Errors.front(), {"data/X.txt"})) << Errors.front();
    fs::remove(CommandFile);
    // The echo to the game's locked file fails; the line must count as sent all the same, or
    // it goes to the channel again on every tick.
    Errors.clear();
    Block("data/talofile.txt"); // as if the game held it
    GameSays("SAY just once");
    Tick();
    Tick();
    EXPECT_FALSE(fs::exists(CommandFile));
    EXPECT_EQ(Sent("PRIVMSG "), "#velmor :just once|");
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    EXPECT_EQ(LastLine(), "(*me*) just once");
}

} // namespace
