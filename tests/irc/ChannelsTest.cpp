// Channels: the update events with the member index they report, names-reply entries, and
// changes that reach every channel.
#include "IdIRCChannels.h"
#include "IdIRCUsers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Channel #c with members a, b, c; user "s" is no member. Each update is written down as
// "kind nick info", checking while the handler runs that a member's index points at it.
struct Fixture {
    std::string events;
    TIdIRCUsers users{nullptr};
    TIdIRCOnChannelUpdate onUpdate = [this](TIdIRCChannel* ch, TIdIRCChannelUpdateType kind,
                                            TIdIRCUser* user, int32_t info) {
        static const char* const kinds[] = {"mode", "topic", "user", "names", "nick",
                                            "join", "part",  "kick", "quit"};
        events += std::string(events.empty() ? "" : "|") + kinds[kind] + " " +
                  (user ? user->Nick() : "-") + " " + std::to_string(info);
        if (kind >= cuJoin) {
            EXPECT_TRUE(IRCSameName(ch->Names().Nick(info), user->Nick())) << "at " << info;
        }
    };
    TIdIRCChannels channels{nullptr, &users, &onUpdate};
    TIdIRCUser* a = users.Add("a", "");
    TIdIRCUser* b = users.Add("b", "");
    TIdIRCUser* c = users.Add("c", "");
    TIdIRCUser* s = users.Add("s", "");
    TIdIRCChannel* channel = channels.Add("#c");
    Fixture() {
        for (TIdIRCUser* user : {a, b, c}) {
            channel->Join(user);
        }
        events.clear();
    }
    std::string Members() const {
        std::string text;
        for (int32_t i = 0; i < channel->Names().Count(); ++i) {
            text += (i ? " " : "") + channel->Names().Nick(i) + "/" +
                    std::to_string(channel->Names().Flags(i));
        }
        return text;
    }
};

} // namespace

TEST(IRCChannel, MemberOperationsRaiseUpdatesWithTheListIndex) {
    const struct {
        const char* why;
        std::function<void(Fixture&)> act;
        std::string events;
        std::string members;
    } cases[] = {
        {"a join appends and reports the new index", [](Fixture& f) { f.channel->Join(f.s); },
         "join s 3", "a/0 b/0 c/0 s/0"},
        {"a member joining again in other case changes nothing",
         [](Fixture& f) { f.channel->Join(f.users.Add("B", "")); }, "", "a/0 b/0 c/0"},
        {"a part reports the index while the member is still listed",
         [](Fixture& f) { f.channel->Part(f.b); }, "part b 1", "a/0 c/0"},
        {"after a removal the members behind it report their new index",
         [](Fixture& f) {
             f.channel->Kick(f.a);
             f.channel->Quit(f.c);
         },
         "kick a 0|quit c 1", "b/0"},
        {"a non-member or no user changes nothing",
         [](Fixture& f) {
             f.channel->Part(f.s);
             f.channel->Op(nullptr);
             f.channel->ChangedNick(f.s, "x");
         },
         "", "a/0 b/0 c/0"},
        {"flag changes report the new flags word",
         [](Fixture& f) {
             f.channel->Op(f.b);
             f.channel->Voice(f.b);
             f.channel->Deop(f.b);
             f.channel->Voice(f.c);
         },
         "user b 1|user b 3|user b 2|user c 2", "a/0 b/2 c/2"},
        {"a nick change renames the entry and reports its index; flags stay",
         [](Fixture& f) {
             f.channel->Op(f.c);
             f.channel->ChangedNick(f.c, "Cee");
         },
         "user c 1|nick c 2", "a/0 b/0 Cee/1"},
        {"a change reaches every channel, in index order; a replaced channel starts empty",
         [](Fixture& f) {
             f.channels.Add("#d")->Join(f.c);
             f.channels.ChangedNick(f.c, "Cee");
             f.c->SetNick("Cee");
             f.channels.Add("#C");
             f.channels.Quit(f.c);
         },
         "join c 0|nick c 2|nick c 0|quit Cee 0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Fixture f;
        c.act(f);
        EXPECT_EQ(f.events, c.events);
        f.channel = f.channels.Get("#c");
        EXPECT_EQ(f.Members(), c.members);
    }
}

TEST(IRCChannel, AddUserDecodesNamesEntriesAndCountsTheirUsers) {
    const struct {
        const char* why;
        std::string entry;
        std::string member; // "nick/flags" as listed, "" when not added
    } cases[] = {
        {"'@' marks an operator", "@op", "op/1"},
        {"'+' at the end after '@' marks voice too", "@both+", "both/3"},
        {"'+' at the front alone marks voice", "+voiced", "voiced/2"},
        {"after '@' a leading '+' is part of the nick", "@+odd", "+odd/1"},
        {"no marker, no flags", "plain", "plain/0"},
        {"a member already listed, in other case, is not added again", "@PLAIN", ""},
        {"an empty piece of a names reply is no nickname", "", ""},
        {"a marker alone is no nickname", "@", ""},
    };
    TIdIRCUsers users(nullptr);
    TIdIRCChannels channels(nullptr, &users, nullptr);
    TIdIRCChannel* channel = channels.Add("#c");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const int32_t before = channel->Names().Count();
        TIdIRCUser* user = channel->AddUser(c.entry, "");
        ASSERT_EQ(user != nullptr, !c.member.empty());
        ASSERT_EQ(channel->Names().Count(), before + (user ? 1 : 0));
        if (user) {
            EXPECT_EQ(channel->Names().Nick(before) + "/" +
                          std::to_string(channel->Names().Flags(before)),
                      c.member);
            EXPECT_EQ(1, user->Count());
            EXPECT_EQ(user, users.Get(channel->Names().Nick(before)));
        }
    }
    EXPECT_EQ(5, users.Count()) << "refused entries create no user";
}
