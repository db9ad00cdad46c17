// The real window driven through its own controls against a loopback server that plays the
// IRC server with recorded lines. The timer is stopped: a test ticks the poller by hand.
#pragma once

#include "FormFixture.h"
#include "LoopbackServer.h"
#include "SortedListBox.h"
#include "Waiting.h"

#include <IdIRC.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

class BridgeFixture : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Form->Timer1->stop();
    }

    // Runs the event loop (and with it the reader's hand-offs) until APredicate holds.
    static bool WaitFor(const std::function<bool()>& APredicate) {
        return QTest::qWaitFor(APredicate, int(TestSupport::HangLimit.count()));
    }

    // One tick of the timer, as the timer delivers it (failures go to the error display).
    void Tick() { QMetaObject::invokeMethod(Form->Timer1, "timeout", Qt::DirectConnection); }

    void TypeConnect(const QString& ANick, const QString& AHost, const QString& APort) {
        Form->ed_nick->setText(ANick);
        Form->ed_serv->setText(AHost);
        Form->ed_port->setText(APort);
        Form->Button_connect->click();
    }
    // Connects through the controls and lets the server welcome the client as ANick.
    void LogIn(const std::string& ANick = "tester") {
        TypeConnect(QString::fromStdString(ANick), QStringLiteral("127.0.0.1"),
                    QString::number(Server.Port()));
        Server.WaitFor("USER ").Send(":irc.brisal.test 001 " + ANick + " :Welcome\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->IRCbot->State() == csLoggedIn; }));
    }
    // Joins #velmor through the controls; the server confirms with alice (op) and bob (voice).
    void JoinVelmor() {
        Form->Button_join->click();
        Server.WaitFor("JOIN #velmor\r\n")
            .Send(":tester!t@127.0.0.1 JOIN #velmor\r\n"
                  ":irc.brisal.test 353 tester = #velmor :tester @alice +bob\r\n"
                  ":irc.brisal.test 366 tester #velmor :End of NAMES list\r\n");
        ASSERT_TRUE(WaitFor([&] {
            return Form->ChatState() == TForm1::chInChannel && Form->ListBox2->count() == 3;
        }));
    }
    void LogInAndJoin() {
        LogIn();
        if (!HasFatalFailure()) {
            JoinVelmor();
        }
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (size_t i = 0; i < Form->LogLines().Count(); ++i) {
            lines.push_back(Form->LogLines()[i]);
        }
        return lines;
    }
    std::string LastLine() const {
        const size_t count = Form->LogLines().Count();
        return count == 0 ? std::string() : Form->LogLines()[count - 1];
    }
    // Waits until the log holds ACount more lines than AFrom and returns those.
    std::vector<std::string> NewLines(size_t AFrom, size_t ACount) {
        AFrom = std::max<size_t>(AFrom, 1); // the log's first line is always the empty one
        WaitFor([&] { return Form->LogLines().Count() >= AFrom + ACount; });
        std::vector<std::string> lines = Lines();
        return std::vector<std::string>(lines.begin() + std::min(AFrom, lines.size()), lines.end());
    }
    // What the client sent after its registration, line by line without CR LF. A marker line
    // sent last proves that everything before it has arrived.
    std::vector<std::string> SentAfterMarker(const std::string& AMarker) {
        Form->IRCbot->SendLine(AMarker);
        EXPECT_TRUE(Server.WaitForReceived(AMarker + "\r\n"));
        std::vector<std::string> lines;
        const std::string received = Server.Received();
        size_t at = 0;
        for (size_t end; (end = received.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(received.substr(at, end - at));
        }
        return lines;
    }
    // The lines of ACommand (for instance "PRIVMSG") that the client sent, up to the marker.
    std::vector<std::string> Sent(const std::string& ACommand, const std::string& AMarker) {
        std::vector<std::string> lines;
        for (const std::string& line : SentAfterMarker(AMarker)) {
            if (line.rfind(ACommand + " ", 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    LoopbackServer Server;
};
