#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/clock.hpp"
#include "core/cursor_list.hpp"
#include "core/fifo_list.hpp"
#include "core/id_map.hpp"
#include "core/last_error.hpp"

namespace orvex {
namespace {

TEST(FifoList, OrderAppendPrependAndReuseAfterEmpty) {
    FifoList<const char*> list;
    list.Append("a");
    list.Append("b");
    list.Append("c");
    EXPECT_STREQ(list.Take(), "a");
    EXPECT_STREQ(list.Take(), "b");
    EXPECT_STREQ(list.Take(), "c");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.Take(), nullptr);  // empty: null, nothing changes
    list.Append("d");
    EXPECT_STREQ(list.Take(), "d");
    list.Append("a");
    list.Prepend("b");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_STREQ(list.Take(), "b");
    EXPECT_STREQ(list.Take(), "a");
}

std::string Order(CursorList<char>& list) {
    std::string out;
    for (char c : list) out.push_back(c);
    return out;
}

CursorList<char>& Fill(CursorList<char>& list, const char* items) {
    for (const char* p = items; *p; ++p) {
        list.Insert();
        list.SetItem(*p);
    }
    return list;
}

TEST(CursorList, InsertPlacesAfterCurrentOrInSecondPlace) {
    CursorList<char> list;
    Fill(list, "abc");
    EXPECT_EQ(Order(list), "abc");
    EXPECT_EQ(list.Item(), 'c');
    list.Reset();
    list.Insert();
    list.SetItem('d');
    EXPECT_EQ(Order(list), "adbc");
    EXPECT_EQ(list.Count(), 4);
}

TEST(CursorList, CursorMovesAndRemoval) {
    CursorList<char> list;
    Fill(list, "abc");
    list.Reset();
    EXPECT_TRUE(list.Next());
    EXPECT_TRUE(list.Next());
    EXPECT_EQ(list.Item(), 'b');
    EXPECT_TRUE(list.Remove());
    EXPECT_EQ(list.Item(), 'a');
    EXPECT_EQ(Order(list), "ac");
    EXPECT_TRUE(list.Remove());
    EXPECT_FALSE(list.HasCurrent());
    EXPECT_EQ(Order(list), "c");
    EXPECT_FALSE(list.Remove());
    EXPECT_TRUE(list.Next());
    EXPECT_EQ(list.Item(), 'c');

    CursorList<char> other;
    Fill(other, "xyz");
    other.Reset();
    EXPECT_TRUE(other.Previous());
    EXPECT_EQ(other.Item(), 'z');
    EXPECT_FALSE(other.Next());
    EXPECT_EQ(other.Item(), 'z');
    other.SwapWithNext();  // on the last node: nothing
    EXPECT_EQ(Order(other), "xyz");
    EXPECT_TRUE(other.Previous());
    other.SwapWithNext();
    EXPECT_EQ(Order(other), "xzy");
    EXPECT_TRUE(other.Previous());
    EXPECT_FALSE(other.Previous());  // first node stays current
    EXPECT_EQ(other.Item(), 'x');

    CursorList<char> empty;
    EXPECT_FALSE(empty.Next());
    EXPECT_FALSE(empty.Previous());
    EXPECT_EQ(empty.Item(), 0);
}

TEST(CursorList, RemovingLoopVisitsEveryNodeOnceAndNodesCanBeRevisited) {
    CursorList<int> list;
    std::vector<CursorList<int>::Node> nodes;
    for (int i = 1; i <= 6; ++i) {
        list.Insert();
        list.SetItem(i);
        nodes.push_back(list.GetNode());
    }
    list.SetNode(nodes[2]);
    EXPECT_EQ(list.Item(), 3);
    std::vector<int> seen;
    list.Reset();
    while (list.Next()) {
        seen.push_back(list.Item());
        if (list.Item() % 2 == 0) list.Remove();
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(list.Count(), 3);
    list.SetNode(nodes[4]);  // removal elsewhere keeps other handles valid
    EXPECT_EQ(list.Item(), 5);
    list.Remove();
    EXPECT_EQ(list.Item(), 3);
}

TEST(IdMap, DigitTreeLookupAndStore) {
    IdMap<> map;
    const int32_t keys[] = {0, 7, 99, 100, 12345, 2147483647, 1000000};
    for (int32_t k : keys) EXPECT_EQ(map.Lookup(k), 0);
    int32_t value = 1;
    for (int32_t k : keys) map.Store(k, value++);
    value = 1;
    for (int32_t k : keys) EXPECT_EQ(map.Lookup(k), value++) << k;
    EXPECT_EQ(map.Lookup(45), 0);  // the path node of 12345 holds no value of its own
    EXPECT_EQ(map.Lookup(-1), 0);
    map.Store(12345, 0);
    EXPECT_EQ(map.Lookup(12345), 0);

    IdMap<const char*> pointers;
    pointers.Store(301, "x");
    EXPECT_STREQ(pointers.Lookup(301), "x");
    EXPECT_EQ(pointers.Lookup(302), nullptr);
}

TEST(LastError, NullUntilFirstFailureThenLatest) {
    LastError error;
    EXPECT_EQ(error.Get(), nullptr);
    error.Set("Orvex_Master_DoJob", "invalid slave number");
    error.Set("Orvex_Master_PingSlave", "invalid slave number");
    EXPECT_EQ(Narrow(ViewOf(error.Get())), "Orvex_Master_PingSlave(): invalid slave number");
}

TEST(Clock, MillisecondsStartInsideASecondAndSourceIsInjectable) {
    const int32_t first = Milliseconds();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 1000 + 60000);  // other tests of this process may have read it earlier
    EXPECT_GE(ElapsedMs(first, Milliseconds()), 0);
    EXPECT_EQ(ElapsedMs(INT32_MAX, INT32_MIN), 1);

    ManualClock manual;
    manual.calendar = 1234;
    manual.milliseconds = 55;
    SetClockSourceForTesting(&manual);
    EXPECT_EQ(CalendarTime(), 1234);
    EXPECT_EQ(Milliseconds(), 55);
    SetClockSourceForTesting(nullptr);
    EXPECT_GT(CalendarTime(), 1600000000);
}

}  // namespace
}  // namespace orvex
