// A master's job table when some job never ends (refused by the slave, or lost with a slave
// that went away): such a job keeps its id for good, so the table never empties. A master
// that keeps jobs in flight must still get ids back, or its table grows with every job.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "master/job_table.hpp"

namespace orvex::test {
namespace {

TEST(JobTable, AJobThatNeverEndsDoesNotMakeTheTableGrow) {
    JobTable table(256);
    ASSERT_EQ(table.Insert({}), 1);  // never released
    std::deque<int32_t> inFlight;
    for (int job = 0; job < 100000; ++job) {
        const int32_t id = table.Insert({});
        ASSERT_NE(id, 0);
        inFlight.push_back(id);
        if (inFlight.size() > 64) {  // the oldest job finishes first
            table.Release(inFlight.front());
            inFlight.pop_front();
        }
    }
    EXPECT_EQ(table.Capacity(), 256);
    EXPECT_EQ(table.UsedIds(), 1 + 64);
    const std::set<int32_t> distinct(inFlight.begin(), inFlight.end());
    EXPECT_EQ(distinct.size(), inFlight.size());
    EXPECT_EQ(distinct.count(1), 0u);
}

TEST(JobTable, IdsClimbAsBeforeWhileTheTableHasRoom) {
    JobTable table(256);
    EXPECT_EQ(table.Insert({}), 1);
    EXPECT_EQ(table.Insert({}), 2);
    EXPECT_EQ(table.Insert({}), 3);
    table.Release(3);
    EXPECT_EQ(table.Insert({}), 3);  // the highest id comes back at once
    table.Release(2);
    EXPECT_EQ(table.Insert({}), 4);  // a lower one only once the table is full
    table.Release(1);
    table.Release(3);
    table.Release(4);
    EXPECT_EQ(table.Insert({}), 1);  // an empty table starts again at 1

    // Full up to the top: the freed id 2 is issued instead of growing the table.
    for (int32_t id = 2; id <= 255; ++id) ASSERT_EQ(table.Insert({}), id);
    table.Release(2);
    EXPECT_EQ(table.Insert({}), 2);
    EXPECT_EQ(table.Capacity(), 256);
    EXPECT_EQ(table.Insert({}), 256);  // no id free: the table grows by a block
    EXPECT_EQ(table.Capacity(), 512);
}

}  // namespace
}  // namespace orvex::test
