// The user registry: one folding for lookups and comparisons, reference counting, and the
// first-found rule of Release under renames and removals.
#include "IdIRCUsers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(IRCFoldName, ComparisonAndLookupAgree) {
    const struct {
        const char* why;
        std::string a, b;
        bool same;
    } cases[] = {
        {"ASCII letters fold", "AliCe", "aLICE", true},
        {"IRC's { } | ~ are not [ ] \\ ^", "{a}|~", "[a]\\^", false},
        {"Windows-1252 capital A grave, the first folded byte", "\xC0", "\xE0", true},
        {"Windows-1252 capital thorn, the last of the range", "J\xDE", "j\xFE", true},
        {"the multiplication sign is not the division sign", "\xD7", "\xF7", false},
        {"Windows-1252 Y diaeresis folds to 0xFF", "\x9F", "\xFF", true},
        {"UTF-8 capital E acute", "\xC3\x89lodie", "\xC3\xA9LODIE", true},
        {"UTF-8 capital Y diaeresis folds to U+00FF", "\xC5\xB8", "\xC3\xBF", true},
        {"UTF-8 Cyrillic KA and NJE differ where a byte-wise fold would merge them", "\xD0\x9A",
         "\xD0\x8A", false},
        {"names that differ in their last byte only (compared in words of 8)", "player001",
         "player002", false},
        {"names that differ in their last byte only (compared in words of 4)", "alice1", "alice2",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(c.same, IRCSameName(c.a, c.b));
        TIdIRCUsers users(nullptr);
        TIdIRCUser* added = users.Add(c.a, "");
        EXPECT_EQ(c.same, users.Get(c.b) == added);
    }
}

TEST(IRCUsers, AddCountsReferencesAndReleaseFreesAtZero) {
    TIdIRCUsers users(nullptr);
    TIdIRCUser* alice = users.Add("Alice", "a@host");
    EXPECT_EQ(alice, users.Add("ALICE", ""));
    EXPECT_EQ("a@host", alice->Address()) << "an empty address keeps the known one";
    EXPECT_EQ(alice, users.Add("alice", "a@other"));
    EXPECT_EQ("Alice a@other", alice->Nick() + " " + alice->Address());
    users.Release(alice);
    users.Release(alice);
    EXPECT_EQ(alice, users.Get("alice"));
    users.Release(alice);
    EXPECT_EQ(nullptr, users.Get("alice"));
    EXPECT_EQ(0, users.Count());
    users.Release(nullptr);
    // A freed user's entry may serve the next user added: nothing of the old one survives.
    TIdIRCUser* gone = users.Add("gone", "g@host");
    gone->SetReason("away");
    users.Release(gone);
    TIdIRCUser* zed = users.Add("Zed", "");
    EXPECT_EQ("Zed|||1|1", zed->Nick() + "|" + zed->Reason() + "|" + zed->Address() + "|" +
                               std::to_string(zed->Count()) + "|" + std::to_string(users.Count()));
    EXPECT_EQ(nullptr, users.Get("gone"));
}

// Users bob, carol, dave, erin; carol renamed to a namesake of bob.
TEST(IRCUsers, ReleaseFreesOnlyTheFirstFoundAndKeepsIndexesRight) {
    const struct {
        const char* why;
        std::string released; // digits, indexes into bob, carol, dave: one reference each
        std::string left;     // nicks in list order afterwards
        int bobIndex;         // Find("BOB") afterwards
    } cases[] = {
        {"a namesake behind the first is not freed at 0: a search meets the first", "1",
         "bob Bob dave erin", 0},
        {"the first namesake is freed; the next is what a search meets", "0", "Bob dave erin", 0},
        {"once the first is gone, the shadowed one is freed by its release", "01", "dave erin", -1},
        {"a removal in the middle renumbers the users behind it", "2", "bob Bob erin", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TIdIRCUsers users(nullptr);
        std::vector<TIdIRCUser*> added;
        for (const char* nick : {"bob", "carol", "dave", "erin"}) {
            added.push_back(users.Add(nick, ""));
        }
        added[1]->SetNick("Bob");
        for (const char i : c.released) {
            users.Release(added[size_t(i - '0')]);
        }
        std::string left;
        int32_t index = -2;
        for (int32_t i = 0; i < users.Count(); ++i) {
            const std::string& nick = users.Items(i)->Nick();
            left += (i ? " " : "") + nick;
            if (nick != "Bob" && nick != "bob") {
                EXPECT_TRUE(users.Find(nick, index));
                EXPECT_EQ(i, index) << nick;
            }
        }
        EXPECT_EQ(c.left, left);
        EXPECT_EQ(c.bobIndex >= 0, users.Find("BOB", index));
        EXPECT_EQ(c.bobIndex, index);
    }
}
