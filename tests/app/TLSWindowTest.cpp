// The window over TLS: which port text chooses it, a whole session through a real server's TLS
// port, and refusals shown the way the window shows every error.
#include "FormFixture.h"
#include "IiClient.h"
#include "NgircdServer.h"
#include "SortedListBox.h"
#include "TestCertificates.h"
#include "Waiting.h"

#include <IdIRC.h>
#include <IdSSLIOHandlerSocket.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class TLSWindow : public FormFixture {
protected:
    static bool WaitFor(const std::function<bool()>& APredicate) {
        return QTest::qWaitFor(APredicate, int(TestSupport::HangLimit.count()));
    }
    void TypeConnect(const QString& AServer, const QString& APort) {
        Form->ed_nick->setText(QStringLiteral("player"));
        Form->ed_serv->setText(AServer);
        Form->ed_port->setText(APort);
        Form->Button_connect->click();
    }
};

} // namespace

TEST(PortChoice, APlusOr6697ChoosesTLSAndNothingElseDoes) {
    const struct {
        const char* why;
        std::string text;
        int32_t port; // 0: refused with "'text' is not a ..."
        bool tls;
    } cases[] = {
        {"a plain port stays plain", "6667", 6667, false},
        {"the TLS port as typed", "6697", 6697, true},
        {"a plus marks TLS on any port", "+7000", 7000, true},
        {"the plus is a mark, not a sign to repeat", "++6697", 0, false},
        {"a mark and a sign", "+-6697", 0, false},
        {"a mark alone", "+", 0, false},
        {"the mark does not widen the range", "+70000", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        try {
            const TPortChoice choice = PortChoice(c.text);
            EXPECT_EQ(choice.Port, c.port);
            EXPECT_EQ(choice.TLS, c.tls);
        } catch (const std::exception& e) {
            EXPECT_EQ(c.port, 0) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("'" + c.text + "' is not a", 0), 0u);
        }
    }
}

TEST_F(TLSWindow, ASessionThroughATLSPort) {
    const TestCertificates certs;
    NgircdServer server({.PingTimeout = 60,
                         .FloodPenalty = false,
                         .TLSCert = certs.Server.Cert,
                         .TLSKey = certs.Server.Key});
    IiClient peer(server.Port(), "peer"); // plain: both kinds meet in one channel
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log();
    Form->TLSHandler().SetCAFile(certs.CAFile.string());
    Form->IRCbot->SetSendInterval(0);

    TypeConnect(QStringLiteral("localhost"), "+" + QString::number(server.TLSPort()));
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    EXPECT_TRUE(Form->Label1->text().startsWith("Connected to IRC server! The connection is "
                                                "encrypted (TLSv1."))
        << Form->Label1->text().toStdString();
    Form->ed_channel->setText(QStringLiteral("#velmor"));
    Form->Button_join->click();
    ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 2; })) << server.Log();

    peer.Say("#velmor", "Hello player");
    ASSERT_TRUE(WaitFor([&] {
        const TLogLines& lines = Form->LogLines();
        return lines.Count() > 0 && lines[lines.Count() - 1] == "(peer) Hello player";
    }));
    Form->Edit1->setText(QStringLiteral("sealed"));
    QTest::keyClick(Form->Edit1, Qt::Key_Return);
    EXPECT_TRUE(peer.WaitForText("sealed", "#velmor")) << peer.Out("#velmor");
    EXPECT_TRUE(Errors.empty());
}

// A refusal is final, as a failed first connect is: the error box says why (here: the window
// trusts the system's store, which lacks the test's authority), the status line what it means.
TEST_F(TLSWindow, ARefusedConnectionIsShownLikeAnyError) {
    const TestCertificates certs;
    NgircdServer ngircd({.TLSCert = certs.Server.Cert, .TLSKey = certs.Server.Key});
    TypeConnect(QStringLiteral("127.0.0.1"), "+" + QString::number(ngircd.TLSPort()));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find("is not from a trusted authority"), std::string::npos) << Errors[0];
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Could not connect to IRC server."));
    EXPECT_FALSE(Form->Button_join->isEnabled());
    EXPECT_FALSE(Form->IRCbot->Connected());
}
