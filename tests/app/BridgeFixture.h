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
    // The game drops its command file, and the next tick reads it.
    void GameSays(const std::string& AText) {
        Dir.WriteFile("data/X.txt", AText);
        Tick();
    }

    void TypeConnect(const QString& ANick, const QString& APort) {
        Form->ed_nick->setText(ANick);
        Form->ed_serv->setText(QStringLiteral("127.0.0.1"));
        Form->ed_port->setText(APort);
        Form->Button_connect->click();
    }
    void LogIn() {
        TypeConnect(QStringLiteral("tester"), QString::number(Server.Port()));
        Server.WaitFor("USER ").Send(":irc.brisal.test 001 tester :Welcome\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->IRCbot->State() == csLoggedIn; }));
    }
    // The server confirms the join with al (op) and bob (voice).
    void LogInAndJoin() {
        LogIn();
        Form->Button_join->click();
        Server.WaitFor("JOIN #velmor\r\n")
            .Send(":tester!t@h JOIN #velmor\r\n"
                  ":irc.brisal.test 353 tester = #velmor :tester @al +bob\r\n"
                  ":irc.brisal.test 366 tester #velmor :End of NAMES list\r\n");
        ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 3; }));
    }

    std::string LastLine() const {
        const size_t count = Form->LogLines().Count();
        return count == 0 ? std::string() : Form->LogLines()[count - 1];
    }
    // The log's lines from AFrom on (past the empty first line), each followed by "|".
    std::string LoggedSince(size_t AFrom) const {
        std::string lines;
        for (size_t i = std::max<size_t>(AFrom, 1); i < Form->LogLines().Count(); ++i) {
            lines += Form->LogLines()[i] + "|";
        }
        return lines;
    }
    // The ACommand lines (for instance "PRIVMSG") the client sent since the previous call. A
    // marker sent last proves that everything before it has arrived.
    std::vector<std::string> Sent(const std::string& ACommand) {
        const std::string marker = "PING :marker" + std::to_string(++FMarkers);
        Form->IRCbot->SendLine(marker);
        EXPECT_TRUE(Server.WaitForReceived(marker + "\r\n"));
        const std::string received = Server.Received();
        std::vector<std::string> lines;
        for (size_t end; (end = received.find("\r\n", FSeen)) != std::string::npos;
             FSeen = end + 2) {
            if (received.compare(FSeen, ACommand.size() + 1, ACommand + " ") == 0) {
                lines.push_back(received.substr(FSeen, end - FSeen));
            }
        }
        return lines;
    }

    LoopbackServer Server;

private:
    int FMarkers = 0;
    size_t FSeen = 0;
};
