// Channels: the update events with the member index they report, names-reply entries, the
// flags IsOp and IsVoice answer from, and replacing and removing channels.
#include "IdIRCChannels.h"
#include "IdIRCUsers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

static_assert(cuMode == 0 && cuNames == 3 && cuQuit == 8, "update kinds are numbered 0 to 8");

namespace {

// Records each update as "kind nick info", checking while the handler runs that an index
// reported for a member points at that member at that moment.
struct Recorder {
    std::vector<std::string> events;
    TIdIRCOnChannelUpdate Handler() {
        return [this](TIdIRCChannel* channel, TIdIRCChannelUpdateType kind, TIdIRCUser* user,
                      int32_t info) {
            static const char* const kinds[] = {"mode", "topic", "user", "names", "nick",
                                                "join", "part",  "kick", "quit"};
            events.push_back(std::string(kinds[kind]) + " " + (user ? user->Nick() : "-") + " " +
                             std::to_string(info));
            if (kind == cuNick) {
                EXPECT_NO_THROW(channel->Names().Nick(info)) << "renamed entry at " << info;
            } else if (kind >= cuJoin) {
                const std::string& listed = channel->Names().Nick(info);
                EXPECT_TRUE(IRCSameName(listed, user->Nick())) << listed << " listed at " << info;
            }
        };
    }
};

std::vector<std::string> Members(const TIdIRCChannel& channel) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < channel.Names().Count(); ++i) {
        out.push_back(channel.Names().Nick(i) + "/" + std::to_string(channel.Names().Flags(i)));
    }
    return out;
}

struct Fixture {
    TIdIRCUsers users{nullptr};
    Recorder recorder;
    TIdIRCOnChannelUpdate onUpdate = recorder.Handler();
    TIdIRCChannels channels{nullptr, &users, &onUpdate};
    TIdIRCUser* a = users.Add("a", "");
    TIdIRCUser* b = users.Add("b", "");
    TIdIRCUser* c = users.Add("c", "");
    TIdIRCUser* stranger = users.Add("stranger", "");
    TIdIRCChannel* channel = channels.Add("#c");
    Fixture() {
        for (TIdIRCUser* user : {a, b, c}) {
            channel->Join(user);
        }
        recorder.events.clear();
    }
};

struct UpdateCase {
    const char* why;
    std::function<void(Fixture&)> act;
    std::vector<std::string> events;
    std::vector<std::string> members;
};

const UpdateCase updateCases[] = {
    {"a join appends and reports the new index",
     [](Fixture& f) { f.channel->Join(f.stranger); },
     {"join stranger 3"},
     {"a/0", "b/0", "c/0", "stranger/0"}},
    {"a member joining again in other case changes nothing",
     [](Fixture& f) { f.channel->Join(f.users.Add("B", "")); },
     {},
     {"a/0", "b/0", "c/0"}},
    {"a part reports the index while the member is still listed, then removes it",
     [](Fixture& f) { f.channel->Part(f.b); },
     {"part b 1"},
     {"a/0", "c/0"}},
    {"after a removal the members behind it report their new index",
     [](Fixture& f) {
         f.channel->Kick(f.a);
         f.channel->Quit(f.c);
     },
     {"kick a 0", "quit c 1"},
     {"b/0"}},
    {"a non-member or no user changes nothing and raises nothing",
     [](Fixture& f) {
         f.channel->Part(f.stranger);
         f.channel->Op(nullptr);
         f.channel->ChangedNick(f.stranger, "x");
     },
     {},
     {"a/0", "b/0", "c/0"}},
    {"flag changes report the new flags word",
     [](Fixture& f) {
         f.channel->Op(f.b);
         f.channel->Voice(f.b);
         f.channel->Deop(f.b);
         f.channel->Devoice(f.b);
         f.channel->Voice(f.c);
     },
     {"user b 1", "user b 3", "user b 2", "user b 0", "user c 2"},
     {"a/0", "b/0", "c/2"}},
    {"a nick change renames the entry and reports its index; flags stay",
     [](Fixture& f) {
         f.channel->Op(f.c);
         f.channel->ChangedNick(f.c, "Cee");
     },
     {"user c 1", "nick c 2"},
     {"a/0", "b/0", "Cee/1"}},
    {"the setters raise on every call, also with the value unchanged",
     [](Fixture& f) {
         f.channel->SetTopic("");
         f.channel->SetLimit(0);
         f.channel->SetKey("k");
         f.channel->SetMode(TIdIRCChannelModes{});
     },
     {"topic - 0", "mode - 0", "mode - 0", "mode - 0"},
     {"a/0", "b/0", "c/0"}},
};

} // namespace

TEST(IRCChannel, MemberOperationsRaiseUpdatesWithTheListIndex) {
    for (const UpdateCase& c : updateCases) {
        SCOPED_TRACE(c.why);
        Fixture f;
        c.act(f);
        EXPECT_EQ(c.events, f.recorder.events);
        EXPECT_EQ(c.members, Members(*f.channel));
    }
}

TEST(IRCChannel, MemberLookupsFollowRenamesAndRemovals) {
    Fixture f;
    f.channel->Part(f.a);
    f.channel->ChangedNick(f.b, "Bee");
    int32_t index = -2;
    EXPECT_FALSE(f.channel->FindUser("b", index));
    EXPECT_EQ(-1, index);
    EXPECT_TRUE(f.channel->FindUser("BEE", index));
    EXPECT_EQ(0, index);
    EXPECT_TRUE(f.channel->FindUser("C", index));
    EXPECT_EQ(1, index);
}

struct EntryCase {
    const char* why;
    std::string entry;
    bool added;
    std::string member; // "nick/flags" as listed, when added
};

const EntryCase entryCases[] = {
    {"'@' marks an operator", "@op", true, "op/1"},
    {"'+' at the end after '@' marks voice too", "@both+", true, "both/3"},
    {"'+' at the front alone marks voice", "+voiced", true, "voiced/2"},
    {"after '@' a leading '+' is part of the nick", "@+odd", true, "+odd/1"},
    {"no marker, no flags", "plain", true, "plain/0"},
    {"a member already listed, in other case, is not added again", "@PLAIN", false, ""},
    {"an empty piece of a names reply is no nickname", "", false, ""},
    {"a marker alone is no nickname", "@", false, ""},
};

TEST(IRCChannel, AddUserDecodesNamesEntriesAndCountsTheirUsers) {
    TIdIRCUsers users(nullptr);
    TIdIRCChannels channels(nullptr, &users, nullptr);
    TIdIRCChannel* channel = channels.Add("#c");
    for (const EntryCase& c : entryCases) {
        SCOPED_TRACE(c.why);
        const int32_t before = channel->Names().Count();
        TIdIRCUser* user = channel->AddUser(c.entry, "");
        EXPECT_EQ(c.added, user != nullptr);
        if (c.added) {
            ASSERT_EQ(before + 1, channel->Names().Count());
            EXPECT_EQ(c.member, Members(*channel).back());
            EXPECT_EQ(1, user->Count());
            EXPECT_EQ(user, users.Get(channel->Names().Nick(before)));
        } else {
            EXPECT_EQ(before, channel->Names().Count());
        }
    }
    EXPECT_EQ(5, users.Count()) << "refused entries create no user";
}

TEST(IRCChannels, MemberFlagsAnswerForTheNickAskedInEveryChannel) {
    TIdIRCUsers users(nullptr);
    TIdIRCChannels channels(nullptr, &users, nullptr);
    channels.Add("#a")->AddUser("@alice", "");
    channels.Items(0)->AddUser("+bob", "");
    channels.Add("#b")->AddUser("@bob", "");
    channels.Items(1)->AddUser("carol", "");
    const struct {
        const char* nick;
        int32_t flags;
    } rows[] = {{"alice", 1}, {"ALICE", 1}, {"bob", 3}, {"carol", 0}, {"@alice", 0}, {"zed", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.nick);
        EXPECT_EQ(row.flags, channels.MemberFlags(row.nick));
    }
}

TEST(IRCChannels, AddReplacesRemoveFreesAndChangesReachEveryChannelInOrder) {
    TIdIRCUsers users(nullptr);
    Recorder recorder;
    TIdIRCOnChannelUpdate onUpdate;
    TIdIRCChannels channels(nullptr, &users, &onUpdate);
    TIdIRCChannel* unbound = channels.Add("#first");
    onUpdate = recorder.Handler();
    TIdIRCUser* nick = users.Add("nick", "");
    channels.Add("#a")->SetTopic("old");
    channels.Add("#b")->Join(users.Add("x", ""));
    for (int32_t i = 0; i < channels.Count(); ++i) {
        channels.Items(i)->Join(nick);
    }
    unbound->Join(users.Add("other", ""));

    TIdIRCChannel* replaced = channels.Add("#A");
    EXPECT_EQ("", replaced->Topic()) << "a fresh channel, not the old one";
    EXPECT_EQ(0, replaced->Names().Count());
    EXPECT_EQ("#A", replaced->Name());
    int32_t index = -2;
    ASSERT_TRUE(channels.Find("#a", index));
    EXPECT_EQ(2, index) << "the replacement is appended";
    EXPECT_EQ(replaced, channels.Items(2));

    recorder.events.clear();
    replaced->Join(nick);
    channels.ChangedNick(nick, "Nick2");
    nick->SetNick("Nick2");
    channels.Quit(nick);
    EXPECT_EQ((std::vector<std::string>{"join nick 0", "nick nick 1", "nick nick 0", "quit Nick2 1",
                                        "quit Nick2 0"}),
              recorder.events)
        << "in index order; #first was created before the handler was bound and raises nothing";
    EXPECT_EQ(1, unbound->Names().Count()) << "other is still in #first";

    channels.Remove("#FIRST");
    ASSERT_TRUE(channels.Find("#b", index));
    EXPECT_EQ(0, index);
    channels.Remove("#nowhere");
    EXPECT_EQ(2, channels.Count());
}
