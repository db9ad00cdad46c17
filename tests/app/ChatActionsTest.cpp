// Connect, Join Channel and the input line through the window's own controls, against a
// loopback server playing the IRC server.
#include "BridgeFixture.h"

#include <QLabel>

#include <filesystem>

namespace {

using ChatActionsTest = BridgeFixture;

bool InConnectLayout(const TForm1& AForm) {
    return !AForm.ed_nick->isHidden() && !AForm.Button_connect->isHidden() &&
           AForm.Button_join->isHidden() && AForm.ed_channel->isHidden();
}

bool InJoinLayout(const TForm1& AForm) {
    return AForm.ed_nick->isHidden() && AForm.Button_connect->isHidden() &&
           !AForm.Button_join->isHidden() && !AForm.ed_channel->isHidden() &&
           AForm.RichEdit1->isHidden();
}

TEST_F(ChatActionsTest, ConnectRefusesWhatCannotBeConnectedTo) {
    const struct {
        const char* Why;
        const char* Nick;
        const char* Port;
        std::string Error;
        const char* NickAfter; // what the component then holds
    } rows[] = {
        {"the default nickname", "Brisal", "6667", "Please, change your nickname!", "Rivozuzove"},
        {"not a number: nick and host are already taken", "joe", "66a7",
         "'66a7' is not a valid integer value", "joe"},
        {"empty port", "joe", "", "'' is not a valid integer value", "joe"},
        {"beyond 32 bits", "joe", "4294967297", "'4294967297' is not a valid integer value", "joe"},
        {"70000 must not wrap to 4464", "joe", "70000",
         "'70000' is not a port: a port is a number from 1 to 65535.", "joe"},
        {"65536", "joe", "65536", "'65536' is not a port: a port is a number from 1 to 65535.",
         "joe"},
        {"zero", "joe", "0", "'0' is not a port: a port is a number from 1 to 65535.", "joe"},
        {"negative", "joe", "-1", "'-1' is not a port: a port is a number from 1 to 65535.", "joe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        TypeConnect(QString::fromLatin1(row.Nick), QStringLiteral("irc.example.net"),
                    QString::fromLatin1(row.Port));
        EXPECT_EQ(Errors, std::vector<std::string>{row.Error});
        EXPECT_TRUE(InConnectLayout(*Form));
        EXPECT_EQ(Form->IRCbot->Nick(), row.NickAfter);
        EXPECT_EQ(Form->IRCbot->Port(), 6667);
        EXPECT_EQ(Form->IRCbot->State(), csDisconnected);
    }
}

TEST_F(ChatActionsTest, ConnectMovesToTheJoinLayoutAndSaysConnected) {
    // The check is case-sensitive: another spelling of the default passes.
    TypeConnect(QStringLiteral("brisal"), QStringLiteral("127.0.0.1"),
                QString::number(Server.Port()));
    EXPECT_TRUE(Errors.empty());
    EXPECT_TRUE(InJoinLayout(*Form));
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Connected to IRC server!"));
    // The status label grew with its caption instead of cutting it off.
    EXPECT_GE(Form->Label1->width(), Form->Label1->sizeHint().width());
    EXPECT_TRUE(Server.WaitForReceived("NICK brisal\r\n"));
    EXPECT_TRUE(Server.WaitForReceived(" :Rivozuzove\r\n")); // USER ends in the real name
}

TEST_F(ChatActionsTest, AChannelWithoutItsPrefixIsRefusedAndTheJoinLayoutStays) {
    LogIn();
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const char* Why;
        const char* Channel;
        const char* Says;
    } rows[] = {
        {"no prefix: it would be a nick", "velmor", "(for example #velmor)"},
        {"prefix alone", "#", "needs more than its prefix"},
        {"a blank would make a key of the rest", "#vel mor", "no blanks"},
        {"empty", "", "starts with #, &, + or !"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        Form->ed_channel->setText(QString::fromLatin1(row.Channel));
        Form->Button_join->click();
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_TRUE(Mentions(Errors[0], {row.Says})) << Errors[0];
        EXPECT_TRUE(InJoinLayout(*Form));
    }
    EXPECT_TRUE(Sent("JOIN", "PING :marker").empty());
    // Nor does the game's line go to the refused text, which would be someone's nick.
    Form->ed_channel->setText(QStringLiteral("velmor"));
    Tick(); // the first tick of a run counts as following a file
    Dir.WriteFile("data/X.txt", "SAY psst");
    Tick();
    EXPECT_FALSE(std::filesystem::exists(Dir.Path() / "data/X.txt"));
    EXPECT_TRUE(Sent("PRIVMSG", "PING :marker2").empty());
    // Corrected, it joins.
    Form->ed_channel->setText(QStringLiteral("#velmor"));
    JoinVelmor();
}

TEST_F(ChatActionsTest, AJoinClickedBeforeTheWelcomeWaitsForIt) {
    TypeConnect(QStringLiteral("tester"), QStringLiteral("127.0.0.1"),
                QString::number(Server.Port()));
    ASSERT_TRUE(Server.WaitForReceived("USER "));
    Form->Button_join->click();
    EXPECT_EQ(Form->ChatState(), TForm1::chJoinHeld);
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("#velmor")));
    EXPECT_TRUE(Sent("JOIN", "PING :before").empty());
    // The server's welcome releases it; the server's JOIN puts the client in the channel.
    Server.Send(":irc.brisal.test 001 tester :Welcome\r\n");
    EXPECT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chJoining; }));
    EXPECT_TRUE(Server.WaitForReceived("JOIN #velmor\r\n"));
    Server.Send(":tester!t@h JOIN #velmor\r\n");
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chInChannel; }));
    EXPECT_TRUE(Form->Edit1->isEnabled());
    EXPECT_EQ(Sent("JOIN", "PING :after"), std::vector<std::string>{"JOIN #velmor"});
}

TEST_F(ChatActionsTest, ARefusedJoinOrAKickIsLoggedAndTheInputLineSaysSo) {
    const struct {
        const char* Why;
        bool JoinFirst;
        std::string Line;
        std::string Logged;
        const char* Says;
    } rows[] = {
        {"banned", false, ":irc.brisal.test 474 tester #velmor :Cannot join channel (+b)",
         "**Cannot join #velmor: Cannot join channel (+b)", "Cannot join channel (+b)"},
        {"invite only, channel in other letter case", false,
         ":irc.brisal.test 473 tester #VELMOR :Cannot join channel (+i)",
         "**Cannot join #VELMOR: Cannot join channel (+i)", "(+i)"},
        {"kicked", true, ":alice!a@h KICK #velmor tester :behave",
         "**You have been kicked off of #velmor by alice.", "kicked by alice"},
    };
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        if (round > 0) {
            Form.reset(); // the old window lets go of the queue's wake-up before the new one
            Form = std::make_unique<TForm1>();
            Form->Timer1->stop();
            Server.NextConnection();
        }
        TypeConnect(QStringLiteral("tester"), QStringLiteral("127.0.0.1"),
                    QString::number(Server.Port()));
        Server.WaitFor("USER ").Send(":irc.brisal.test 001 tester :Welcome\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->IRCbot->State() == csLoggedIn; }));
        Form->Button_join->click();
        ASSERT_TRUE(Server.WaitForReceived("JOIN #velmor\r\n", std::chrono::milliseconds(10000),
                                           size_t(round)));
        if (row.JoinFirst) {
            Server.Send(":tester!t@h JOIN #velmor\r\n");
            ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chInChannel; }));
        }
        Server.Send(row.Line + "\r\n");
        ASSERT_TRUE(WaitFor([&] { return LastLine() == row.Logged; })) << LastLine();
        EXPECT_NE(Talo().find(UpperCaseAscii(row.Logged)), std::string::npos);
        EXPECT_EQ(Form->ChatState(), TForm1::chNotInChannel);
        EXPECT_FALSE(Form->Edit1->isEnabled());
        EXPECT_TRUE(Form->Edit1->placeholderText().contains(QString::fromLatin1(row.Says)))
            << Form->Edit1->placeholderText().toStdString();
        ++round;
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(ChatActionsTest, EnterSendsTheLineAsUtf8AndEchoesIt) {
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const char* Why;
        QString Typed;
        std::string Sent;
        std::string Logged;
    } rows[] = {
        {"plain", QStringLiteral("hello"), "PRIVMSG #velmor :hello", "(*tester*) hello"},
        {"an empty line is an empty message", QString(), "PRIVMSG #velmor :", "(*tester*) "},
        {"beyond ASCII: UTF-8 on the wire and in the log", QStringLiteral("héllo wörld €"),
         "PRIVMSG #velmor :h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC",
         "(*tester*) h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC"},
    };
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Form->Edit1->setText(row.Typed);
        QTest::keyClick(Form->Edit1, Qt::Key_Return);
        EXPECT_EQ(Form->Edit1->text(), QString());
        EXPECT_EQ(LastLine(), row.Logged);
        const std::vector<std::string> sent = Sent("PRIVMSG", "PING :r" + std::to_string(round++));
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), row.Sent);
    }
    // The game's file holds the same bytes, only ASCII letters upper-cased.
    EXPECT_NE(Talo().find("(*TESTER*) H\xC3\xA9LLO W\xC3\xB6RLD \xE2\x82\xAC"), std::string::npos);
    // Other keys send nothing.
    Form->Edit1->setText(QStringLiteral("draft"));
    QTest::keyClick(Form->Edit1, Qt::Key_Space);
    EXPECT_EQ(Form->Edit1->text(), QStringLiteral("draft "));
}

TEST_F(ChatActionsTest, WhenTheServerClosesTheWindowStopsPretending) {
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    Server.Send(":alice!a@h PRIVMSG #velmor :last words\r\n").Close();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chConnectionEnded; }));
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Disconnected from IRC server."));
    EXPECT_GE(Form->Label1->width(), Form->Label1->sizeHint().width());
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("Disconnected")));
    // Nothing about it reaches the log or the game's file.
    EXPECT_EQ(LastLine(), "(alice) last words");
    Form->Edit1->setText(QStringLiteral("anyone?"));
    QTest::keyClick(Form->Edit1, Qt::Key_Return);
    EXPECT_EQ(LastLine(), "(alice) last words");
}

TEST_F(ChatActionsTest, AFailedConnectLeavesNothingPretendingToWork) {
    const uint16_t closed = [] {
        LoopbackServer gone;
        return uint16_t(gone.Port());
    }(); // nothing listens there any more
    TypeConnect(QStringLiteral("tester"), QStringLiteral("127.0.0.1"), QString::number(closed));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(InJoinLayout(*Form));
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Could not connect to IRC server."));
    EXPECT_FALSE(Form->Button_join->isEnabled());
}

} // namespace
