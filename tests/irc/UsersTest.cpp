// The user registry: one folding for lookups and comparisons, reference counting, and the
// first-found rule of Release under renames and removals.
#include "IdIRCUsers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct FoldCase {
    const char* why;
    std::string a, b;
    bool same;
};

const FoldCase foldCases[] = {
    {"ASCII letters fold", "AliCe", "aLICE", true},
    {"the bytes next to A-Z do not: '@' and '`'", "@x", "`x", false},
    {"IRC's { } | ~ are not [ ] \\ ^", "{a}|~", "[a]\\^", false},
    {"brackets themselves compare exactly while letters fold", "[Zed]", "[zED]", true},
    {"a different length is a different name", "a", "ab", false},
    {"Windows-1252 capital A grave, the first folded byte", "\xC0", "\xE0", true},
    {"Windows-1252 capital thorn, the last of the range", "J\xDE", "j\xFE", true},
    {"the multiplication sign is not the division sign", "\xD7", "\xF7", false},
    {"sharp s has no capital: it is not y diaeresis", "\xDF", "\xFF", false},
    {"Windows-1252 S caron, OE, Z caron", "\x8A\x8C\x8E", "\x9A\x9C\x9E", true},
    {"Windows-1252 Y diaeresis folds to 0xFF", "\x9F", "\xFF", true},
    {"UTF-8 capital E acute", "\xC3\x89lodie", "\xC3\xA9LODIE", true},
    {"UTF-8 capital Y diaeresis folds to U+00FF, another lead byte", "\xC5\xB8", "\xC3\xBF", true},
    {"UTF-8 S caron", "\xC5\xA0", "\xC5\xA1", true},
    {"UTF-8 Cyrillic KA and NJE differ where a byte-wise fold would merge them", "\xD0\x9A",
     "\xD0\x8A", false},
    {"UTF-8 multiplication sign stays", "\xC3\x97", "\xC3\xB7", false},
};

} // namespace

TEST(IRCFoldName, ComparisonAndLookupAgree) {
    for (const FoldCase& c : foldCases) {
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
    EXPECT_EQ(2, alice->Count());
    EXPECT_EQ("a@host", alice->Address()) << "an empty address keeps the known one";
    EXPECT_EQ(alice, users.Add("alice", "a@other"));
    EXPECT_EQ("a@other", alice->Address()) << "a different address replaces it";
    EXPECT_EQ("Alice", alice->Nick()) << "the first spelling stays";

    users.Release(alice);
    users.Release(alice);
    EXPECT_EQ(alice, users.Get("alice"));
    users.Release(alice);
    EXPECT_EQ(nullptr, users.Get("alice"));
    EXPECT_EQ(0, users.Count());

    TIdIRCUser* server = users.Add("", "irc.example.net");
    EXPECT_EQ(server, users.Add("", ""));
    EXPECT_EQ("irc.example.net", server->Address()) << "the empty nick is a nick like any other";
    users.Release(nullptr);
}

// Users bob, carol, dave, erin at 0-3; carol renamed to a namesake of bob.
struct ReleaseCase {
    const char* why;
    std::vector<std::string> released; // in this order, one reference each
    std::vector<std::string> left;     // nicks in list order afterwards
    int bobIndex;                      // Find("BOB") afterwards
};

const ReleaseCase releaseCases[] = {
    {"a namesake behind the first is not freed at 0: a search meets the first",
     {"carol"},
     {"bob", "Bob", "dave", "erin"},
     0},
    {"the first namesake is freed, and the next one becomes what a search meets",
     {"bob"},
     {"Bob", "dave", "erin"},
     0},
    {"once the first is gone, the shadowed one is freed by its own release",
     {"bob", "carol"},
     {"dave", "erin"},
     -1},
    {"a removal in the middle renumbers the users behind it", {"dave"}, {"bob", "Bob", "erin"}, 0},
};

TEST(IRCUsers, ReleaseFreesOnlyTheFirstFoundAndKeepsIndexesRight) {
    for (const ReleaseCase& c : releaseCases) {
        SCOPED_TRACE(c.why);
        TIdIRCUsers users(nullptr);
        std::vector<TIdIRCUser*> byName;
        for (const char* nick : {"bob", "carol", "dave", "erin"}) {
            byName.push_back(users.Add(nick, ""));
        }
        TIdIRCUser* carol = byName[1];
        carol->SetNick("Bob");
        for (const std::string& nick : c.released) {
            users.Release(nick == "carol" ? carol : byName[nick == "bob" ? 0 : 2]);
        }
        std::vector<std::string> left;
        for (int32_t i = 0; i < users.Count(); ++i) {
            left.push_back(users.Items(i)->Nick());
        }
        EXPECT_EQ(c.left, left);
        int32_t index = -2;
        EXPECT_EQ(c.bobIndex >= 0, users.Find("BOB", index));
        EXPECT_EQ(c.bobIndex, index);
        // Every survivor is found at the position it holds.
        for (int32_t i = 0; i < users.Count(); ++i) {
            const std::string& nick = users.Items(i)->Nick();
            if (nick != "Bob" && nick != "bob") {
                EXPECT_TRUE(users.Find(nick, index));
                EXPECT_EQ(i, index) << nick;
            }
        }
    }
}

TEST(IRCUsers, ItemsOutsideTheListRaiseTheListIndexError) {
    TIdIRCUsers users(nullptr);
    users.Add("a", "");
    EXPECT_THROW(users.Items(1), std::out_of_range);
    EXPECT_THROW(users.Items(-1), std::out_of_range);
    int32_t index = 5;
    EXPECT_FALSE(users.Find("b", index));
    EXPECT_EQ(-1, index);
}

// Many users and removals from everywhere in the list: the hash index must still find every
// survivor at its position once removals have shifted entries of shared probe runs.
TEST(IRCUsers, ManyRemovalsKeepEveryLookupAndPositionRight) {
    TIdIRCUsers users(nullptr);
    std::vector<TIdIRCUser*> all;
    for (int i = 0; i < 3000; ++i) {
        all.push_back(users.Add("n" + std::to_string(i), ""));
    }
    for (size_t i = 0; i < all.size(); i += 3) {
        users.Release(all[(i * 7) % all.size()]); // 7 and 3000 are coprime: every third user
    }
    ASSERT_EQ(2000, users.Count());
    int32_t index = -2;
    for (int32_t i = 0; i < users.Count(); ++i) {
        ASSERT_TRUE(users.Find(users.Items(i)->Nick(), index)) << users.Items(i)->Nick();
        ASSERT_EQ(i, index);
    }
    for (size_t i = 0; i < all.size(); i += 3) {
        ASSERT_EQ(nullptr, users.Get("N" + std::to_string((i * 7) % all.size())));
    }
}
