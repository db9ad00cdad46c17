// An evening of the bridge against the real ngircd, with the real ii as the peer in the
// channel: the window's layout, chat both ways and the game's files, a burst of typed lines,
// the server restarted on its port and the server frozen. The waits are shortened through the
// window's and the component's settings; the test waits for what the window shows. The evening
// is spent once in plain text and once through the server's TLS port ("+port"), whose
// certificate names 127.0.0.1.
#include "FormFixture.h"
#include "IiClient.h"
#include "NgircdServer.h"
#include "SortedListBox.h"
#include "TestCertificates.h"

#include <IdIRC.h>
#include <IdSSLIOHandlerSocket.h>

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include <set>

namespace {

constexpr size_t None = std::string::npos;

// Qt paints later siblings on top: no label may come after a widget it overlaps. Tab, never
// typed into a view, reaches every control that takes focus.
void ExpectLabelsBeneathAndTabEverywhere(const TForm1& AForm, QWidget* AStart) {
    const QObjectList& stack = AForm.children(); // bottom first
    std::set<QWidget*> focusable, met;
    for (qsizetype i = 0; i < stack.size(); ++i) {
        auto* widget = qobject_cast<QWidget*>(stack[i]);
        if (widget == nullptr || !widget->isVisible()) {
            continue;
        }
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            focusable.insert(widget);
        }
        for (qsizetype j = 0; qobject_cast<QLabel*>(widget) != nullptr && j < i; ++j) {
            const auto* below = qobject_cast<QWidget*>(stack[j]);
            EXPECT_FALSE(below != nullptr && below->isVisible() &&
                         !qobject_cast<const QLabel*>(below) &&
                         below->geometry().intersects(widget->geometry()))
                << widget->objectName().toStdString() << " over "
                << below->objectName().toStdString();
        }
    }
    AStart->setFocus();
    for (size_t i = 0; i < 2 * focusable.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        met.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(met, focusable);
    for (const QPlainTextEdit* view : {AForm.RichEdit3, AForm.RichEdit1, AForm.Memo1}) {
        EXPECT_FALSE(view->toPlainText().contains(QLatin1Char('\t')));
    }
}

// 6697 is TLS without a "+" (the evening types one); other ports stay plain.
TEST(PortChoice, TheTLSPortIsTLSAsTypedAndOthersStayPlain) {
    EXPECT_TRUE(PortChoice("6697").TLS);
    EXPECT_FALSE(PortChoice("6667").TLS);
}

class RealServerTest : public FormFixture, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(, RealServerTest, ::testing::Bool(), [](const auto& AInfo) {
    return std::string(AInfo.param ? "TLS" : "Plain");
});

TEST_P(RealServerTest, AnEveningOfChatAndTheGameThroughARestartAndAFreeze) {
    const TestCertificates certs;
    NgircdConfig config;
    config.FloodPenalty = false; // else ngircd paces the burst itself, a second a line
    config.PingTimeout = 60;     // no PING of the server's in the middle of the test
    config.TLS = GetParam() ? certs.Server : TestCertificates::TPair();
    NgircdServer server(config);
    Form->TLSHandler().SetCAFile(certs.CAFile);
    auto peer = std::make_unique<IiClient>(server.Port(), "peer");
    ASSERT_TRUE(peer->Join("#velmor")) << peer->Log(); // the channel's creator, its operator
    // The event loop drives the paced queue, so the peer is waited for with it running.
    const auto heard = [&](const std::string& AText) {
        return WaitFor([&] { return peer->Out("#velmor").find(AText) != None; });
    };
    Form->IRCbot->SetSendInterval(50); // the burst, then the queue at a test's pace
    Form->SetReconnectDelays({20, 50, 100});
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
    EXPECT_EQ(Status().find("The connection is encrypted (TLSv1.") != None, GetParam()) << Status();
    Form->Button_join->click();
    ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 2; })) << server.Log();
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@peer", "player"}));
    // The chat layout, where the "Channel" caption lies inside the log.
    ASSERT_TRUE(Form->RichEdit1->geometry().intersects(Form->Label5->geometry()));
    EXPECT_TRUE(Form->ListBox2->focusPolicy() & Qt::TabFocus);
    ExpectLabelsBeneathAndTabEverywhere(*Form, Form->Edit1);

    peer->Say("#velmor", "Hello player");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(peer) Hello player"; })) << LastLine();
    EXPECT_NE(Talo().find("(PEER) HELLO PLAYER"), None);
    // Enter sends the input line as UTF-8, logs it and empties the line.
    Form->Edit1->setText(QStringLiteral("héllo €"));
    QTest::keyClick(Form->Edit1, Qt::Key_Return);
    EXPECT_EQ(Form->Edit1->text(), QString());
    EXPECT_TRUE(heard("h\xC3\xA9llo \xE2\x82\xAC")) << peer->Out("#velmor");
    EXPECT_EQ(LastLine(), "(*player*) h\xC3\xA9llo \xE2\x82\xAC");
    EXPECT_NE(Talo().find("(*PLAYER*) H\xC3\xA9LLO \xE2\x82\xAC"), None);

    // Thirty lines typed in a row: all arrive, in order, and the bridge stays on.
    std::string expected, arrived;
    for (int i = 0; i < 30; ++i) {
        const QString text = QStringLiteral("line %1").arg(i, 2, 10, QLatin1Char('0'));
        Form->Edit1->setText(text);
        QTest::keyClick(Form->Edit1, Qt::Key_Return);
        expected += text.toStdString() + "\n";
    }
    ASSERT_TRUE(heard("line 29")) << peer->Out("#velmor");
    const std::string out = peer->Out("#velmor");
    for (size_t at = out.find("<player> line "); at != None; at = out.find("<player> line ", at)) {
        at += 9;
        arrived += out.substr(at, out.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(arrived, expected);
    EXPECT_EQ(Form->ChatState(), TForm1::chInChannel);
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

    // Restarted on its port, the server gets the bridge back in the channel, and the peer's
    // next message reaches the game. The loss and the return are the window's to show.
    server.Stop();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chReconnectWait; }));
    peer.reset();
    server.Restart();
    ASSERT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chInChannel; })) << Status();
    peer = std::make_unique<IiClient>(server.Port(), "peer");
    ASSERT_TRUE(peer->Join("#velmor")) << peer->Log();
    peer->Say("#velmor", "welcome back");
    EXPECT_TRUE(WaitFor([&] { return Talo().find("(PEER) WELCOME BACK") != None; }));
    EXPECT_EQ(Talo().find("CONNECTION LOST"), None) << Talo();

    // Frozen, the server says nothing: that is noticed, as the first loss since the login, and
    // the bridge returns once it resumes.
    Form->Timer1->setInterval(100); // the dead-link check rides on it
    Form->Timer1->start();
    Form->IRCbot->SetPingIdleTime(300);
    Form->IRCbot->SetPingWaitTime(300);
    server.Freeze(true);
    ASSERT_TRUE(WaitFor([&] { return Mentions(Status(), {"Connection lost: nothing from"}); }))
        << Status();
    EXPECT_TRUE(Mentions(Status(), {"(attempt 1)"})) << Status();
    EXPECT_FALSE(Form->Edit1->isEnabled());
    EXPECT_TRUE(Form->Edit1->placeholderText().contains("nothing typed here is sent"));
    server.Freeze(false);
    EXPECT_TRUE(WaitFor([&] { return Form->ChatState() == TForm1::chInChannel; })) << Status();

    Form->close();
    EXPECT_NE(Dir.ReadFile("IRC.log").find("(peer) Hello player"), None);
    EXPECT_EQ(Talo().substr(0, 17), "***SESSION END***");
}

} // namespace
