// Connect, Join Channel and the input line through the window's own controls, against a
// loopback server playing the IRC server.
#include "BridgeFixture.h"

#include <filesystem>

namespace {

using ChatActionsTest = BridgeFixture;

TEST_F(ChatActionsTest, ConnectRefusesWhatCannotBeConnectedTo) {
    const struct {
        const char* Why;
        const char* Nick;
        const char* Port;
        std::string Error;
    } rows[] = {
        {"the default nickname", "Brisal", "6667", "Please, change your nickname!"},
        {"not a number", "joe", "66a7", "'66a7' is not a valid integer value"},
        {"beyond 32 bits", "joe", "4294967297", "'4294967297' is not a valid integer value"},
        {"70000 must not wrap to 4464", "joe", "70000",
         "'70000' is not a port: a port is a number from 1 to 65535."},
        {"65536", "joe", "65536", "'65536' is not a port: a port is a number from 1 to 65535."},
        {"zero", "joe", "0", "'0' is not a port: a port is a number from 1 to 65535."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        TypeConnect(QString::fromLatin1(row.Nick), QString::fromLatin1(row.Port));
        EXPECT_EQ(Errors, std::vector<std::string>{row.Error});
        EXPECT_FALSE(Form->Button_connect->isHidden());
        EXPECT_EQ(Form->IRCbot->Port(), 6667);
    }
    // Nothing listens where a closed server was: nothing may look connected.
    Errors.clear();
    const int closed = LoopbackServer().Port();
    TypeConnect(QStringLiteral("tester"), QString::number(closed));
    EXPECT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Could not connect to IRC server."));
    EXPECT_FALSE(Form->Button_join->isEnabled());
}

TEST_F(ChatActionsTest, AJoinClickedBeforeTheWelcomeWaitsForItAndARefusalIsShown) {
    TypeConnect(QStringLiteral("tester"), QString::number(Server.Port()));
    EXPECT_FALSE(Form->Button_join->isHidden());
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Connected to IRC server!"));
    EXPECT_GE(Form->Label1->width(), Form->Label1->sizeHint().width()); // not cut to "Conne"
    ASSERT_TRUE(Server.WaitForReceived("USER "));
    Form->Button_join->click();
    EXPECT_EQ(Form->ChatState(), TForm1::chJoinHeld);
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Sent("JOIN").empty());
    Server.Send(":irc.brisal.test 001 tester :Welcome\r\n");
    EXPECT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chJoining; }));
    EXPECT_EQ(Sent("JOIN"), std::vector<std::string>{"JOIN #velmor"});
    // The server refuses it: the log, the game's file and the input line say why.
    Server.Send(":irc.brisal.test 474 tester #velmor :Cannot join channel (+b)\r\n");
    const std::string refused = "**Cannot join #velmor: Cannot join channel (+b)";
    ASSERT_TRUE(WaitFor([&] { return LastLine() == refused; })) << LastLine();
    EXPECT_NE(Talo().find(UpperCaseAscii(refused)), std::string::npos);
    EXPECT_EQ(Form->ChatState(), TForm1::chNotInChannel);
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("(+b)")));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(ChatActionsTest, AChannelWithoutItsPrefixIsRefusedAndTheJoinLayoutStays) {
    LogIn();
    const struct {
        const char* Why;
        const char* Channel;
        const char* Says;
    } rows[] = {
        {"no prefix: it would be a nick", "velmor", "(for example #velmor)"},
        {"prefix alone", "#", "needs more than its prefix"},
        {"a blank would make a key of the rest", "#vel mor", "no blanks"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Errors.clear();
        Form->ed_channel->setText(QString::fromLatin1(row.Channel));
        Form->Button_join->click();
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_TRUE(Mentions(Errors[0], {row.Says})) << Errors[0];
        EXPECT_FALSE(Form->Button_join->isHidden());
    }
    EXPECT_TRUE(Sent("JOIN").empty());
    // Nor does the game's line go to the refused text, which would be someone's nick.
    Form->ed_channel->setText(QStringLiteral("velmor"));
    Tick(); // the first tick of a run counts as following a file
    GameSays("SAY psst");
    EXPECT_FALSE(std::filesystem::exists(Dir.Path() / "data/X.txt"));
    EXPECT_TRUE(Sent("PRIVMSG").empty());
}

TEST_F(ChatActionsTest, EnterSendsUtf8UntilAKickAndTheServersCloseSaySo) {
    LogInAndJoin();
    Form->Edit1->setText(QStringLiteral("héllo €"));
    QTest::keyClick(Form->Edit1, Qt::Key_Return);
    EXPECT_EQ(Form->Edit1->text(), QString());
    EXPECT_EQ(Sent("PRIVMSG"),
              std::vector<std::string>{"PRIVMSG #velmor :h\xC3\xA9llo \xE2\x82\xAC"});
    EXPECT_EQ(LastLine(), "(*tester*) h\xC3\xA9llo \xE2\x82\xAC");
    EXPECT_NE(Talo().find("(*TESTER*) H\xC3\xA9LLO \xE2\x82\xAC"), std::string::npos);

    Server.Send(":al!a@h KICK #velmor tester :behave\r\n");
    ASSERT_TRUE(
        WaitFor([&] { return LastLine() == "**You have been kicked off of #velmor by al."; }));
    EXPECT_EQ(Form->ChatState(), TForm1::chNotInChannel);
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains(QStringLiteral("kicked by al")));

    // Nothing about the close reaches the log or the game's file.
    Server.Send(":al!a@h PRIVMSG #velmor :last words\r\n").Close();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chConnectionEnded; }));
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Disconnected from IRC server."));
    EXPECT_GE(Form->Label1->width(), Form->Label1->sizeHint().width());
    EXPECT_EQ(LastLine(), "(al) last words");
}

} // namespace
