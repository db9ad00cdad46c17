#include "IdException.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <vector>

// Items outside the count raise; the list holds 64 and refuses the next, keeping its contents.
TEST(SocketList, ItemsOutsideTheCountAndASixtyFifthAddRaise) {
    const auto list = TIdSocketList::CreateSocketList();
    EXPECT_THROW(list->Items(0), EIdStackSetSizeExceeded);
    for (int i = 0; i < 64; ++i) {
        list->Add(100 + i);
    }
    for (int32_t index : {-1, 64, INT32_MIN}) {
        SCOPED_TRACE(index);
        try {
            list->Items(index);
            ADD_FAILURE() << "no exception";
        } catch (const EIdStackSetSizeExceeded& e) {
            EXPECT_STREQ(e.what(), "Set Size Exceeded.");
        }
    }
    EXPECT_THROW(list->Add(999), EIdStackSetSizeExceeded);
    EXPECT_EQ(list->Count(), 64);
    EXPECT_EQ(list->Items(63), 163);
    list->Remove(100);
    list->Add(999); // room again
    EXPECT_EQ(list->Items(63), 999);
}

TEST(SocketList, RemoveMovesLastIntoPlaceAndIgnoresAbsent) {
    struct Case {
        const char* why;
        std::vector<TIdStackSocketHandle> start;
        TIdStackSocketHandle remove;
        std::vector<TIdStackSocketHandle> expected;
    };
    const Case cases[] = {
        {"first: last moves to the front", {1, 2, 3, 4}, 1, {4, 2, 3}},
        {"middle", {1, 2, 3, 4}, 2, {1, 4, 3}},
        {"last", {1, 2, 3, 4}, 4, {1, 2, 3}},
        {"only", {5}, 5, {}},
        {"absent", {1, 2}, 9, {1, 2}},
        {"empty", {}, 1, {}},
        {"repeat: only the first goes", {3, 1, 3, 2}, 3, {2, 1, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const auto list = TIdSocketList::CreateSocketList();
        for (TIdStackSocketHandle h : c.start) {
            list->Add(h);
        }
        list->Remove(c.remove);
        std::vector<TIdStackSocketHandle> contents;
        for (int32_t i = 0; i < list->Count(); ++i) {
            contents.push_back(list->Items(i));
        }
        EXPECT_EQ(contents, c.expected);
        EXPECT_THROW(list->Items(list->Count()), EIdStackSetSizeExceeded);
    }
}
