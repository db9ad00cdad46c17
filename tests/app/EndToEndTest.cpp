// The whole program against a real IRC server (ngircd) and real second clients (ii), in a
// temporary game directory: what a player and the game see, end to end.
#include "BridgeFixture.h"
#include "CommandPoller.h"
#include "IiClient.h"
#include "NgircdServer.h"

#include <filesystem>

namespace {

using EndToEndTest = BridgeFixture;

TEST_F(EndToEndTest, APlayerTheGameAndTheChannelTalkThroughTheWindow) {
    NgircdConfig config;
    config.FloodPenalty = false;
    config.PingTimeout = 60; // no PING in the middle of the test
    NgircdServer server(config);
    IiClient peer(server.Port(), "peer");
    ASSERT_TRUE(peer.Join("#velmor")) << peer.Log(); // the channel's creator, its operator

    // Through the window's own controls; Join is clicked before the welcome can have come.
    Form->ed_serv->setText(QString::fromLatin1(NgircdServer::Host()));
    Form->ed_nick->setText(QStringLiteral("player"));
    Form->ed_port->setText(QString::number(server.Port()));
    Form->Button_connect->click();
    Form->Button_join->click();
    ASSERT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 2; })) << server.Log();
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@peer", "player"}));

    peer.Say("#velmor", "Hello player");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(peer) Hello player"; })) << LastLine();
    EXPECT_NE(Talo().find("(PEER) HELLO PLAYER"), std::string::npos);

    // The game speaks through its command file and the running timer.
    const auto game = [&](const std::string& ACommand) {
        Dir.WriteFile("data/X.txt", ACommand);
        return WaitFor([&] { return !std::filesystem::exists(Dir.Path() / "data/X.txt"); });
    };
    Form->Timer1->start();
    ASSERT_TRUE(game("SAY Greetings from Velmor\r\n"));
    EXPECT_TRUE(peer.WaitForText("greetings from velmor", "#velmor")) << peer.Out("#velmor");
    ASSERT_TRUE(WaitFor([] { return TimerTicks >= 2; })); // past the floodgate for an action
    ASSERT_TRUE(game("ACTION Waves"));
    EXPECT_TRUE(peer.WaitForText("waves", "#velmor")) << peer.Out("#velmor");
    ASSERT_TRUE(game("WHO"));
    EXPECT_EQ(LastLine(), "USERS ON CHANNEL: PLAYER @PEER");
    Form->Timer1->stop();

    IiClient third(server.Port(), "third");
    ASSERT_TRUE(third.Join("#velmor")) << third.Log();
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "**third has joined #velmor."; })) << LastLine();
    const struct {
        const char* Why;
        std::string Command;
        std::string Logged;
    } rows[] = {
        {"topic", "TOPIC #velmor :Raid at nine", "**peer sets topic for #velmor to: Raid at nine."},
        {"mode", "MODE #velmor +v player", "-peer sets mode +v player on channel #velmor."},
        {"kick", "KICK #velmor third :enough", "**third has been kicked off of #velmor by peer."},
        {"part", "PART #velmor :later", "**peer has left #velmor"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        peer.Raw(row.Command);
        EXPECT_TRUE(WaitFor([&] { return LastLine() == row.Logged; })) << LastLine();
    }
    EXPECT_TRUE(Errors.empty());

    Form->close();
    const std::string log = Dir.ReadFile("IRC.log");
    for (const char* line : {"(peer) Hello player", "(*player*) greetings from velmor",
                             "*player Waves", "**peer has left #velmor", "***SESSION END***"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(Talo().substr(0, 17), "***SESSION END***");
}

} // namespace
