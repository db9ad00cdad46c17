// The real window through its own controls, against a loopback server playing the IRC server
// with recorded lines and, end to end, a real server and clients.
#include "CommandPoller.h"
#include "FormFixture.h"
#include "IiClient.h"
#include "LoopbackServer.h"
#include "NgircdServer.h"
#include "SortedListBox.h"
#include "TestCertificates.h"
#include "Waiting.h"

#include <IdIRC.h>
#include <IdSSLIOHandlerSocket.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr const char* Game = "data/X.txt"; // the game's command file

class BridgeTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Form->IRCbot->SetSendInterval(0); // Sent() waits outside the event loop that paces
    }

    // Runs the event loop (and with it the reader's hand-offs) until APredicate holds.
    static bool WaitFor(const std::function<bool()>& APredicate) {
        return QTest::qWaitFor(APredicate, int(TestSupport::HangLimit.count()));
    }
    // One tick as the timer delivers it (failures go to the error display).
    void Tick() { QMetaObject::invokeMethod(Form->Timer1, "timeout", Qt::DirectConnection); }
    void GameSays(const std::string& AText) {
        Dir.WriteFile(Game, AText);
        Tick();
    }

    void TypeConnect(const QString& ANick, const QString& APort) {
        Form->ed_nick->setText(ANick);
        Form->ed_serv->setText(QStringLiteral("127.0.0.1"));
        Form->ed_port->setText(APort);
        Form->Button_connect->click();
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

    std::string LastLine() const {
        return Form->LogLines().Count() == 0 ? "" : Form->LogLines()[Form->LogLines().Count() - 1];
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

TEST_F(BridgeTest, ConnectRefusesWhatCannotBeConnectedTo) {
    const struct {
        const char *Why, *Nick, *Port, *Says;
    } connects[] = {
        {"the default nickname", "Brisal", "6667", "Please, change your nickname!"},
        {"not a number", "joe", "66a7", "'66a7' is not a valid integer value"},
        {"70000 must not wrap to 4464", "joe", "70000", "'70000' is not a port: a port is a"},
        {"just past the last port", "joe", "65536", "'65536' is not a port"},
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
    // Nothing listens where a closed server was: nothing may look connected, and a failed
    // connect is final.
    const int closed = LoopbackServer().Port();
    TypeConnect(QStringLiteral("me"), QString::number(closed));
    EXPECT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Could not connect to IRC server."));
    EXPECT_FALSE(Form->Button_join->isEnabled());
}

TEST_F(BridgeTest, OnlyAChannelIsJoinedAndOnlyOnceLoggedInAndARefusalIsShown) {
    TypeConnect(QStringLiteral("me"), QString::number(Server.Port()));
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Connected to IRC server!"));
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
    EXPECT_FALSE(fs::exists(Game));
    EXPECT_EQ(Sent("PRIVMSG "), "");

    // A Join clicked before the server's welcome waits for it.
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

    // The close itself logs nothing; while away, nobody is listed as there.
    ASSERT_GT(Form->ListBox2->count(), 0);
    Server.Send(":al!a@h PRIVMSG #velmor :last words\r\n").Close();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chReconnectWait; }));
    EXPECT_TRUE(Form->Label1->text().startsWith(QStringLiteral("Connection lost:")));
    EXPECT_EQ(LastLine(), "(al) last words");
    EXPECT_EQ(Form->ListBox2->count(), 0);
}

TEST_F(BridgeTest, TheGamesCommandFileTickByTick) {
    LogInAndJoin();
    // A fresh run each row, whose first tick counts as following a file. A SAY is refused when
    // it repeats the last text on the tick after a file, an ACTION when either holds.
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
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        ResetCommandPoller();
        const size_t from = Form->LogLines().Count();
        std::istringstream ticks(row.Ticks);
        for (std::string file; std::getline(ticks, file, '|');) {
            file == "-" ? Tick() : GameSays(file);
            EXPECT_FALSE(fs::exists(Game));
        }
        EXPECT_EQ(LoggedSince(from), row.Logged);
        EXPECT_EQ(Sent("PRIVMSG #velmor :"), row.Sent);
    }
    EXPECT_TRUE(Errors.empty());

    // Text that is no command stays, read again each tick, as does a file that cannot be read.
    const size_t logged = Form->LogLines().Count();
    for (const char* text : {"say hi", "SA", ""}) {
        SCOPED_TRACE(text);
        GameSays(text);
        Tick();
        EXPECT_TRUE(fs::exists(Game));
        EXPECT_EQ(Form->RichEdit3->toPlainText(), QString::fromUtf8(text));
        EXPECT_EQ(TimerTicks, 0);
    }
    EXPECT_EQ(Form->LogLines().Count(), logged);
    Block(Game); // it exists, but reading it fails
    Tick();
    Tick();
    EXPECT_EQ(TimerTicks, 2); // not reset by a tick that could not read the file
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_TRUE(Mentions(Errors.front(), {"data/X.txt"})) << Errors.front();
    fs::remove(Game);
    GameSays("ACTION again");
    EXPECT_EQ(Sent("PRIVMSG "), "#velmor :\1ACTION again\1|");
    // The echo to the game's locked file fails; the line must count as sent all the same, or
    // it goes to the channel again on every tick.
    Errors.clear();
    Block("data/talofile.txt"); // as if the game held it
    GameSays("SAY just once");
    Tick();
    Tick();
    EXPECT_FALSE(fs::exists(Game));
    EXPECT_EQ(Sent("PRIVMSG "), "#velmor :just once|");
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    EXPECT_EQ(LastLine(), "(*me*) just once");
}

// No label paints over a field or view (Qt paints later siblings on top), and Tab, never
// typed into a view, reaches every control that takes focus.
void ExpectLabelsBeneathAndTabEverywhere(const TForm1& AForm, QWidget* AStart) {
    const QObjectList& stack = AForm.children(); // bottom first
    std::set<QWidget*> focusable;
    for (qsizetype i = 0; i < stack.size(); ++i) {
        auto* widget = qobject_cast<QWidget*>(stack[i]);
        if (widget != nullptr && widget->isVisible() && widget->isEnabled() &&
            (widget->focusPolicy() & Qt::TabFocus)) {
            focusable.insert(widget);
        }
        const auto* label = qobject_cast<QLabel*>(widget);
        for (qsizetype j = 0; label != nullptr && label->isVisible() && j < i; ++j) {
            const auto* below = qobject_cast<QWidget*>(stack[j]);
            EXPECT_FALSE(below != nullptr && below->isVisible() &&
                         !qobject_cast<const QLabel*>(below) &&
                         below->geometry().intersects(label->geometry()))
                << label->objectName().toStdString() << " over "
                << below->objectName().toStdString();
        }
    }
    AStart->setFocus();
    std::set<QWidget*> met;
    for (size_t i = 0; i < 2 * focusable.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        met.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(met, focusable);
    for (QPlainTextEdit* view : {AForm.RichEdit3, AForm.RichEdit1, AForm.Memo1}) {
        const QString before = view->toPlainText();
        EXPECT_FALSE(before.contains(QLatin1Char('\t')));
        if (view != AForm.RichEdit3) { // the log and the warning take no typing
            QTest::keyClicks(view, "typed");
            EXPECT_EQ(view->toPlainText(), before);
        }
    }
}

// A "+" marks TLS on any port (the TLS run below types one); 6697 is TLS without it.
TEST(PortChoice, TheTLSPortIsTLSAsTypedAndOthersStayPlain) {
    EXPECT_TRUE(PortChoice("6697").TLS);
    EXPECT_FALSE(PortChoice("6667").TLS);
}

// Run plain, then through the server's TLS port ("+port"), whose certificate names 127.0.0.1.
class EndToEnd : public BridgeTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(, EndToEnd, ::testing::Bool(), [](const auto& AInfo) {
    return std::string(AInfo.param ? "TLS" : "Plain");
});

TEST_P(EndToEnd, APlayerTheGameAndTheChannelTalkThroughTheWindow) {
    const TestCertificates certs;
    NgircdConfig config;
    config.FloodPenalty = false;
    config.PingTimeout = 60; // no PING in the middle of the test
    config.TLS = GetParam() ? certs.Server : TestCertificates::TPair();
    NgircdServer server(config);
    Form->TLSHandler().SetCAFile(certs.CAFile);
    IiClient peer(server.Port(), "peer");
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log(); // the channel's creator, its operator
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    ExpectLabelsBeneathAndTabEverywhere(*Form, Form->RichEdit3);
    // The warning: each designed line that fits stays one row, and no row is cut.
    const QPlainTextEdit* memo = Form->Memo1;
    const qreal width = memo->viewport()->width() - 2 * memo->document()->documentMargin();
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        if (QFontMetricsF(memo->font()).horizontalAdvance(block.text().trimmed()) <= width) {
            EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
        }
    }
    EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0) << "rows out of view";
    QTextCursor end(memo->document());
    end.movePosition(QTextCursor::End);
    EXPECT_LE(memo->cursorRect(end).bottom(), memo->viewport()->height()) << "last row cut";

    // Join is clicked before the welcome can have come.
    TypeConnect(QStringLiteral("player"), GetParam() ? "+" + QString::number(server.TLSPort())
                                                     : QString::number(server.Port()));
    EXPECT_EQ(Form->Label1->text().contains("The connection is encrypted (TLSv1."), GetParam());
    Form->Button_join->click();
    ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 2; })) << server.Log();
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@peer", "player"}));
    // The chat layout, where the "Channel" caption lies inside the log.
    ASSERT_TRUE(Form->RichEdit1->geometry().intersects(Form->Label5->geometry()));
    EXPECT_TRUE(Form->ListBox2->focusPolicy() & Qt::TabFocus);
    ExpectLabelsBeneathAndTabEverywhere(*Form, Form->Edit1);

    peer.Say("#velmor", "Hello player");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(peer) Hello player"; })) << LastLine();
    // Enter sends the input line as UTF-8, logs it and empties the line.
    Form->Edit1->setText(QStringLiteral("héllo €"));
    QTest::keyClick(Form->Edit1, Qt::Key_Return);
    EXPECT_EQ(Form->Edit1->text(), QString());
    EXPECT_TRUE(peer.WaitForText("h\xC3\xA9llo \xE2\x82\xAC", "#velmor")) << peer.Out("#velmor");
    EXPECT_EQ(LastLine(), "(*player*) h\xC3\xA9llo \xE2\x82\xAC");
    EXPECT_NE(Talo().find("(*PLAYER*) H\xC3\xA9LLO \xE2\x82\xAC"), std::string::npos);

    const auto game = [&](const std::string& ACommand) {
        Dir.WriteFile(Game, ACommand);
        return WaitFor([&] { return !fs::exists(Game); });
    };
    Form->Timer1->start();
    ASSERT_TRUE(game("SAY Greetings from Velmor\r\n"));
    EXPECT_TRUE(peer.WaitForText("greetings from velmor", "#velmor")) << peer.Out("#velmor");
    ASSERT_TRUE(WaitFor([] { return TimerTicks >= 2; })); // past the floodgate for an action
    ASSERT_TRUE(game("ACTION Waves"));
    EXPECT_TRUE(peer.WaitForText("waves", "#velmor")) << peer.Out("#velmor");
    Form->Timer1->stop();
    EXPECT_TRUE(Errors.empty());

    // The log follows its end only while Autoscroll is ticked.
    QScrollBar* bar = Form->RichEdit1->verticalScrollBar();
    for (int i = 0; i < 100; ++i) {
        Form->Addline("filler");
    }
    QApplication::processEvents();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    Form->ch_autoscroll->setChecked(false);
    bar->setValue(0);
    Form->Addline("unfollowed");
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);

    Form->close();
    EXPECT_NE(Dir.ReadFile("IRC.log").find("(*player*) greetings from velmor"), std::string::npos);
    EXPECT_EQ(Talo().substr(0, 17), "***SESSION END***");
}

} // namespace
