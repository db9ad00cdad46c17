#include "IdException.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

std::vector<TIdStackSocketHandle> Contents(const TIdSocketList& list) {
    std::vector<TIdStackSocketHandle> result;
    for (int32_t i = 0; i < list.Count(); ++i) {
        result.push_back(list.Items(i));
    }
    return result;
}

} // namespace

TEST(SocketList, ItemsOutsideTheCountRaise) {
    const auto list = TIdSocketList::CreateSocketList();
    for (int32_t index : {-1, 0, 1}) {
        SCOPED_TRACE(index);
        EXPECT_THROW(list->Items(index), EIdStackSetSizeExceeded);
    }
    list->Add(7);
    EXPECT_EQ(list->Items(0), 7);
    for (int32_t index : {-1, 1, INT32_MIN}) {
        SCOPED_TRACE(index);
        try {
            list->Items(index);
            FAIL() << "no exception";
        } catch (const EIdStackSetSizeExceeded& e) {
            EXPECT_STREQ(e.what(), "Set Size Exceeded.");
        }
    }
}

TEST(SocketList, HoldsSixtyFourAndRefusesTheNext) {
    const auto list = TIdSocketList::CreateSocketList();
    for (int i = 0; i < 64; ++i) {
        list->Add(100 + i);
    }
    EXPECT_EQ(list->Count(), 64);
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
        EXPECT_EQ(Contents(*list), c.expected);
        EXPECT_THROW(list->Items(list->Count()), EIdStackSetSizeExceeded);
    }
}
