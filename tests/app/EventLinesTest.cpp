// The component's events as the player reads them: recorded server lines go through the real
// reader, dispatcher and window, and come out as log lines and the nick list.
#include "BridgeFixture.h"

#include <filesystem>

namespace {

using EventLinesTest = BridgeFixture;

TEST_F(EventLinesTest, EachServerLineBecomesItsLogLine) {
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const char* Why;
        std::string Line;
        std::vector<std::string> Expected;
    } rows[] = {
        {"channel message", ":alice!a@h PRIVMSG #velmor :hello there", {"(alice) hello there"}},
        {"private message looks the same", ":alice!a@h PRIVMSG tester :psst", {"(alice) psst"}},
        {"action",
         ":alice!a@h PRIVMSG #velmor :\x01"
         "ACTION waves\x01",
         {"*alice waves"}},
        {"notice from a user", ":alice!a@h NOTICE #velmor :hi all", {"-<alice>- hi all"}},
        {"notice from the server: no blank after the marker",
         ":irc.brisal.test NOTICE tester :maintenance",
         {"*-*maintenance"}},
        {"join ends in a full stop", ":carol!c@h JOIN #velmor", {"**carol has joined #velmor."}},
        {"part has no full stop", ":carol!c@h PART #velmor :bye", {"**carol has left #velmor"}},
        {"kick names victim, channel and kicker",
         ":alice!a@h KICK #velmor bob :out",
         {"**bob has been kicked off of #velmor by alice."}},
        {"topic set by a user",
         ":alice!a@h TOPIC #velmor :raid at nine",
         {"**alice sets topic for #velmor to: raid at nine."}},
        {"topic told by the server",
         ":irc.brisal.test 332 tester #velmor :old news",
         {"**Topic for #velmor is: old news."}},
        {"away reply", ":irc.brisal.test 301 tester alice :lunch", {"*alice is now away."}},
        {"unaway reply",
         ":irc.brisal.test 305 tester :You are no longer marked as being away",
         {"*Now unaway: You are no longer marked as being away"}},
        {"op",
         ":alice!a@h MODE #velmor +o tester",
         {"-alice sets mode +o tester on channel #velmor."}},
        {"deop",
         ":alice!a@h MODE #velmor -o alice",
         {"-alice sets mode -o alice on channel #velmor."}},
        {"voice",
         ":alice!a@h MODE #velmor +v tester",
         {"-alice sets mode +v tester on channel #velmor."}},
        {"devoice",
         ":alice!a@h MODE #velmor -v tester",
         {"-alice sets mode -v tester on channel #velmor."}},
        {"ban", ":alice!a@h MODE #velmor +b *!*@bad", {"-alice bans *!*@bad on channel #velmor."}},
        {"unban",
         ":alice!a@h MODE #velmor -b *!*@bad",
         {"-alice unbans *!*@bad on channel #velmor."}},
        {"several modes in one line, in order",
         ":alice!a@h MODE #velmor +vb tester m!*@*",
         {"-alice sets mode +v tester on channel #velmor.",
          "-alice bans m!*@* on channel #velmor."}},
        {"a mode for a nick nobody knows names no one",
         ":alice!a@h MODE #velmor +o ghost",
         {"-alice sets mode +o  on channel #velmor."}},
        {"own user mode: the modes, then the change",
         ":tester MODE tester :+i",
         {"-- Usermodes are: +i", "-- Usermodes have changed --"}},
        {"a line the window does not show", ":alice!a@h INVITE tester #elsewhere", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        const size_t before = Form->LogLines().Count();
        // A message after the row's line shows that everything the row caused has arrived.
        Server.Send(row.Line + "\r\n:zed!z@h PRIVMSG #velmor :end of row\r\n");
        std::vector<std::string> lines = NewLines(before, row.Expected.size() + 1);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "(zed) end of row");
        lines.pop_back();
        EXPECT_EQ(lines, row.Expected);
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(EventLinesTest, NickListIsRebuiltFromMemberFlagsOnEveryNamesReply) {
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    // The server's own entry (it sent the end of the list) gets no row; op and voice come
    // from the member flags, so a user with both gets two rows.
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"@alice", "+bob", "tester"}));

    const struct {
        const char* Why;
        std::string Names;
        QStringList Expected;
    } rows[] = {
        {"op and voice together give two rows",
         "@+dave Zed",
         {"@alice", "@dave", "+bob", "+dave", "tester", "Zed"}},
        // The locale's order: marks and punctuation before letters (so operators, then voiced
        // users, then the rest), accented letters beside their base letter, case ignored.
        {"punctuation, accents and capitals sort as a reader expects, not after Zed",
         "{brace} |pipe éclair Alpha",
         {"{brace}", "@alice", "@dave", "+bob", "+dave", "|pipe", "Alpha", "éclair", "tester",
          "Zed"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        Server.Send(":irc.brisal.test 353 tester = #velmor :" + row.Names +
                    "\r\n:irc.brisal.test 366 tester #velmor :End of NAMES list\r\n");
        EXPECT_TRUE(WaitFor([&] { return Form->ListBox2->count() == row.Expected.size(); }));
        EXPECT_EQ(Form->ListBox2->Items(), row.Expected);
    }
    // A join alone does not change the list; the next names reply does.
    Server.Send(":newbie!n@h JOIN #velmor\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "**newbie has joined #velmor."; }));
    EXPECT_EQ(Form->ListBox2->count(), 10);
}

TEST_F(EventLinesTest, WithoutTheServersEntryNoRealNickIsDropped) {
    // Raised the way the component raises it, with a collection holding no empty nick.
    TIdIRCUsers& users = Form->IRCbot->Users();
    users.Add("alice", "a@h");
    users.Add("bob", "b@h");
    Form->IRCbot->OnNames(Form->IRCbot.get(), &users, nullptr);
    EXPECT_EQ(Form->ListBox2->Items(), (QStringList{"alice", "bob"}));
    Form->IRCbot->OnNames(Form->IRCbot.get(), nullptr, nullptr);
    EXPECT_EQ(Form->ListBox2->count(), 0);
}

TEST_F(EventLinesTest, AnAbsentUserOrChannelIsLoggedWithWhatThereIs) {
    TIdIRC* bot = Form->IRCbot.get();
    TIdIRCUser* alice = bot->Users().Add("alice", "a@h");
    const struct {
        const char* Why;
        std::function<void()> Raise;
        std::string Expected;
    } rows[] = {
        {"message without user", [&] { bot->OnMessage(bot, nullptr, nullptr, "hi"); }, "() hi"},
        {"notice without user reads as the server's",
         [&] { bot->OnNotice(bot, nullptr, nullptr, "x"); }, "*-*x"},
        {"join of an untracked channel", [&] { bot->OnJoin(bot, alice, nullptr); },
         "**alice has joined ."},
        {"kick with no one known", [&] { bot->OnKick(bot, nullptr, nullptr, nullptr); },
         "** has been kicked off of  by ."},
        {"topic of an untracked channel names it as the line did",
         [&] { bot->OnTopic(bot, alice, nullptr, "#other", "t"); },
         "**alice sets topic for #other to: t."},
        {"op of an unknown target", [&] { bot->OnOp(bot, alice, nullptr, nullptr); },
         "-alice sets mode +o  on channel ."},
        {"away of no one", [&] { bot->OnAway(bot, nullptr); }, "* is now away."},
        {"parted from an untracked channel", [&] { bot->OnParted(bot, nullptr); },
         "**You have left ."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        row.Raise();
        EXPECT_EQ(LastLine(), row.Expected);
    }
}

TEST_F(EventLinesTest, AFailedGameFileWriteIsShownAndTheReaderGoesOn) {
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    // The game's output file cannot be written while a directory stands in its place.
    std::filesystem::remove(Dir.Path() / "data/talofile.txt");
    std::filesystem::create_directory(Dir.Path() / "data/talofile.txt");
    Server.Send(":alice!a@h PRIVMSG #velmor :one\r\n:alice!a@h PRIVMSG #velmor :two\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(alice) two" && !Errors.empty(); }));
    EXPECT_TRUE(Mentions(Errors.front(), {"talofile.txt"})) << Errors.front();
    EXPECT_FALSE(Form->IRCbot->ReadThreadEnded());

    std::filesystem::remove(Dir.Path() / "data/talofile.txt");
    Server.Send(":alice!a@h PRIVMSG #velmor :three\r\n");
    ASSERT_TRUE(WaitFor([&] { return LastLine() == "(alice) three"; }));
    // The file is written whole again: nothing logged while it failed is lost.
    const std::string talo = Talo();
    for (const char* text : {"(ALICE) ONE", "(ALICE) TWO", "(ALICE) THREE"}) {
        EXPECT_NE(talo.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("Connected to IRC server!"));
}

} // namespace
