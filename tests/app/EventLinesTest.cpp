// The component's events as the player reads them: recorded server lines go through the real
// reader, dispatcher and window, and come out as log lines and the nick list.
#include "BridgeFixture.h"

#include <filesystem>

namespace {

using EventLinesTest = BridgeFixture;

TEST_F(EventLinesTest, EachServerLineBecomesItsLogLine) {
    LogInAndJoin();
    const struct {
        const char* Why;
        std::string Line;
        std::string Expected; // the lines it logs, each followed by "|"
    } rows[] = {
        {"message", ":al!a@h PRIVMSG #velmor :hi there", "(al) hi there|"},
        {"action", ":al!a@h PRIVMSG #velmor :\1ACTION waves\1", "*al waves|"},
        {"notice from a user", ":al!a@h NOTICE #velmor :hi all", "-<al>- hi all|"},
        {"notice from the server", ":irc.brisal.test NOTICE tester :maint", "*-*maint|"},
        {"join", ":carol!c@h JOIN #velmor", "**carol has joined #velmor.|"},
        {"part has no full stop", ":carol!c@h PART #velmor :bye", "**carol has left #velmor|"},
        {"kick", ":al!a@h KICK #velmor bob :x", "**bob has been kicked off of #velmor by al.|"},
        {"topic set", ":al!a@h TOPIC #velmor :at nine",
         "**al sets topic for #velmor to: at nine.|"},
        {"topic told", ":irc.brisal.test 332 tester #velmor :old", "**Topic for #velmor is: old.|"},
        {"away", ":irc.brisal.test 301 tester al :lunch", "*al is now away.|"},
        {"unaway", ":irc.brisal.test 305 tester :Back", "*Now unaway: Back|"},
        {"channel modes, in order", ":al!a@h MODE #velmor +o-o+v-v+b-b tester al bob tester m n",
         "-al sets mode +o tester on channel #velmor.|-al sets mode -o al on channel #velmor.|"
         "-al sets mode +v bob on channel #velmor.|-al sets mode -v tester on channel #velmor.|"
         "-al bans m on channel #velmor.|-al unbans n on channel #velmor.|"},
        {"a nick nobody knows", ":al!a@h MODE #velmor +o ghost",
         "-al sets mode +o  on channel #velmor.|"},
        {"own user mode", ":tester MODE tester :+i",
         "-- Usermodes are: +i|-- Usermodes have changed --|"},
        {"not shown", ":al!a@h INVITE tester #elsewhere", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        const size_t from = Form->LogLines().Count();
        // A message after the row's line shows that everything the row caused has arrived.
        const std::string marker = "(zed) " + std::string(row.Why);
        Server.Send(row.Line + "\r\n:zed!z@h PRIVMSG #velmor :" + row.Why + "\r\n");
        ASSERT_TRUE(WaitFor([&] { return LastLine() == marker; }));
        EXPECT_EQ(LoggedSince(from), row.Expected + marker + "|");
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(EventLinesTest, NickListIsRebuiltFromMemberFlagsOnEveryNamesReply) {
    LogInAndJoin();
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@al", "+bob", "tester"}));
    // Op and voice give two rows. The locale's order: marks and punctuation before letters,
    // accents beside their base letter, case ignored; not by code point, after "Zed".
    Server.Send(":irc.brisal.test 353 tester = #velmor :@+dave Zed {brace} |pipe éclair Alpha\r\n"
                ":irc.brisal.test 366 tester #velmor :End of NAMES list\r\n");
    EXPECT_TRUE(WaitFor([&] { return Form->ListBox2->count() == 10; }));
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"{brace}", "@al", "@dave", "+bob", "+dave",
                                                    "|pipe", "Alpha", "éclair", "tester", "Zed"}));
}

TEST_F(EventLinesTest, AnAbsentUserOrChannelIsLoggedWithWhatThereIs) {
    TIdIRC* bot = Form->IRCbot.get();
    TIdIRCUser* alice = bot->Users().Add("alice", "a@h");
    const struct {
        const char* Why;
        std::function<void()> Raise;
        std::string Expected;
    } rows[] = {
        {"message", [&] { bot->OnMessage(bot, nullptr, nullptr, "hi"); }, "() hi"},
        {"kick", [&] { bot->OnKick(bot, nullptr, nullptr, nullptr); },
         "** has been kicked off of  by ."},
        {"topic names the channel as the line did",
         [&] { bot->OnTopic(bot, alice, nullptr, "#other", "t"); },
         "**alice sets topic for #other to: t."},
        {"op", [&] { bot->OnOp(bot, alice, nullptr, nullptr); },
         "-alice sets mode +o  on channel ."},
        {"parted", [&] { bot->OnParted(bot, nullptr); }, "**You have left ."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        row.Raise();
        EXPECT_EQ(LastLine(), row.Expected);
    }
    // Without the server's empty entry, no real nick is taken for it.
    bot->Users().Add("bob", "b@h");
    bot->OnNames(bot, &bot->Users(), nullptr);
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"alice", "bob"}));
    bot->OnNames(bot, nullptr, nullptr);
    EXPECT_EQ(Form->ListBox2->count(), 0);
}

TEST_F(EventLinesTest, AFailedGameFileWriteIsShownAndTheReaderGoesOn) {
    LogInAndJoin();
    std::filesystem::remove(Dir.Path() / "data/talofile.txt");
    std::filesystem::create_directory(Dir.Path() / "data/talofile.txt"); // cannot be written
    Server.Send(":alice!a@h PRIVMSG #velmor :one\r\n:alice!a@h PRIVMSG #velmor :two\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(alice) two" && !Errors.empty(); }));
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    std::filesystem::remove(Dir.Path() / "data/talofile.txt");
    Server.Send(":alice!a@h PRIVMSG #velmor :three\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(alice) three"; }));
    // The file is written whole again: nothing logged while it failed is lost.
    EXPECT_NE(Talo().find("(ALICE) ONE"), std::string::npos);
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Connected to IRC server!"));
}

} // namespace
