// A bridge left running for the evening: a lost connection is tried again and the channel
// rejoined, a silent one is noticed, and a burst of lines reaches the channel without the
// server throwing the bridge off. Against a loopback server and, end to end, the real
// ngircd with the real ii as the peer. The waits are shortened through the window's and the
// component's settings; the test waits for what the window shows, never for a time.
#include "FormFixture.h"
#include "IiClient.h"
#include "LoopbackServer.h"
#include "NgircdServer.h"
#include "Waiting.h"

#include <IdIRC.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

namespace {

class ReconnectTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Form->SetReconnectDelays({20, 50, 100});
    }
    static bool WaitFor(const std::function<bool()>& APredicate) {
        return QTest::qWaitFor(APredicate, int(TestSupport::HangLimit.count()));
    }
    bool WaitForState(TForm1::TChatState AState) {
        return WaitFor([&] { return Form->ChatState() == AState; });
    }
    void ConnectAndJoin(int APort) {
        Form->ed_nick->setText(QStringLiteral("me"));
        Form->ed_serv->setText(QStringLiteral("127.0.0.1"));
        Form->ed_port->setText(QString::number(APort));
        Form->Button_connect->click();
        Form->ed_channel->setText(QStringLiteral("#velmor"));
        Form->Button_join->click();
    }
    bool Status(const char* AText) const { return Form->Label1->text().contains(AText); }
};

TEST_F(ReconnectTest, AConnectionThatNeverLoggedInIsReportedAndNotTried) {
    LoopbackServer closing; // not an IRC server: it closes at once
    closing.Close();
    ConnectAndJoin(closing.Port());
    EXPECT_TRUE(WaitForState(TForm1::chConnectionEnded)) << Form->Label1->text().toStdString();
    EXPECT_FALSE(Form->ReconnectTimer->isActive());
}

TEST_F(ReconnectTest, AClosedSessionComesBackWithTheNickAndChannelAndClosingStopsTrying) {
    Form->SetReconnectDelays({600000}); // the wait is looked at, then cut short by hand
    LoopbackServer server;
    ConnectAndJoin(server.Port());
    server.WaitFor("USER ")
        .Send(":irc.brisal.test 001 me :Welcome\r\n")
        .WaitFor("JOIN #velmor\r\n")
        .Send(":me!t@h JOIN #velmor\r\n")
        .Close()
        .NextConnection()
        .WaitFor("NICK me\r\n")
        .WaitFor("USER ")
        .Send(":irc.brisal.test 001 me :Welcome\r\n")
        .WaitFor("JOIN #velmor\r\n")
        .Send(":me!t@h JOIN #velmor\r\n");
    ASSERT_TRUE(WaitForState(TForm1::chReconnectWait)) << Form->Label1->text().toStdString();
    EXPECT_TRUE(Status("Connection lost: Connection Closed Gracefully."))
        << Form->Label1->text().toStdString();
    EXPECT_TRUE(Status("(attempt 1)"));
    EXPECT_FALSE(Form->Edit1->isEnabled());
    ASSERT_TRUE(Form->ReconnectTimer->isActive());
    Form->ReconnectTimer->stop();
    QMetaObject::invokeMethod(Form->ReconnectTimer, "timeout", Qt::DirectConnection);
    ASSERT_TRUE(WaitForState(TForm1::chInChannel)) << Form->Label1->text().toStdString();
    EXPECT_EQ(Form->ReconnectAttempt(), 0);
    EXPECT_TRUE(server.WaitScriptDone());
    // The loss and the return are the window's to show, not the game's.
    EXPECT_FALSE(std::filesystem::exists(Dir.Path() / "data/talofile.txt"));

    server.Close();
    ASSERT_TRUE(WaitForState(TForm1::chReconnectWait));
    EXPECT_TRUE(Status("(attempt 1)")) << "logged in again: the waits start over";
    Form->close();
    EXPECT_FALSE(Form->ReconnectTimer->isActive());
}

TEST_F(ReconnectTest, ARestartedServerGetsTheBridgeBackAndABurstArrivesWhole) {
    NgircdConfig config;
    config.PingTimeout = 60;
    config.FloodPenalty = false; // else ngircd paces the lines itself, a second each
    NgircdServer server(config);
    auto peer = std::make_unique<IiClient>(server.Port(), "peer");
    ASSERT_TRUE(peer->Join("#velmor")) << peer->Log();
    Form->IRCbot->SetSendInterval(50); // the burst, then the queue at a test's pace
    ConnectAndJoin(server.Port());
    ASSERT_TRUE(WaitForState(TForm1::chInChannel)) << server.Log();

    // Thirty lines typed in a row: all arrive, in order, and the bridge stays on.
    std::string expected;
    for (int i = 0; i < 30; ++i) {
        const QString text = QStringLiteral("line %1").arg(i, 2, 10, QLatin1Char('0'));
        Form->Edit1->setText(text);
        QTest::keyClick(Form->Edit1, Qt::Key_Return);
        expected += text.toStdString() + "\n";
    }
    // Waited for with the event loop running: it drives the queue.
    ASSERT_TRUE(WaitFor([&] { return peer->Out("#velmor").find("line 29") != std::string::npos; }))
        << peer->Out("#velmor");
    std::string arrived;
    const std::string out = peer->Out("#velmor");
    for (size_t at = out.find("<me> "); at != std::string::npos; at = out.find("<me> ", at)) {
        at += 5;
        arrived += out.substr(at, out.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(arrived, expected);
    EXPECT_EQ(Form->ChatState(), TForm1::chInChannel);
    EXPECT_TRUE(Errors.empty());

    server.Stop();
    ASSERT_TRUE(WaitForState(TForm1::chReconnectWait));
    peer.reset();
    server.Restart();
    ASSERT_TRUE(WaitForState(TForm1::chInChannel)) << Form->Label1->text().toStdString();
    peer = std::make_unique<IiClient>(server.Port(), "peer");
    ASSERT_TRUE(peer->Join("#velmor")) << peer->Log();
    peer->Say("#velmor", "welcome back");
    EXPECT_TRUE(WaitFor([&] { return Talo().find("(PEER) WELCOME BACK") != std::string::npos; }));
}

TEST_F(ReconnectTest, AFrozenServerIsNoticedAndTheBridgeReturnsWhenItResumes) {
    NgircdServer server;
    Form->IRCbot->SetPingIdleTime(300);
    Form->IRCbot->SetPingWaitTime(300);
    Form->Timer1->setInterval(100); // the dead-link check rides on it
    Form->Timer1->start();
    ConnectAndJoin(server.Port());
    ASSERT_TRUE(WaitForState(TForm1::chInChannel)) << server.Log();

    server.Freeze(true);
    ASSERT_TRUE(WaitFor([&] { return Status("Connection lost: nothing from the server"); }))
        << Form->Label1->text().toStdString();
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains("nothing typed here is sent"));
    server.Freeze(false);
    EXPECT_TRUE(WaitForState(TForm1::chInChannel)) << Form->Label1->text().toStdString();
}

} // namespace
