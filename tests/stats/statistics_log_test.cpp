// The log's thread on its own: the hold protocol, files switched while statements wait, and
// the shutdown rows. Every statement the thread runs is seen through SQLite's trace hook.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "stats/statistics_database.hpp"
#include "stats/statistics_log.hpp"
#include "stats/statistics_statements.hpp"
#include "stats/stats_fixture.hpp"

namespace orvex::stats_test {
namespace {

// The statements a connection runs, in order.
class StatementTrace {
  public:
    explicit StatementTrace(SQLiteConnection& database) {
        sqlite3_trace_v2(database.Raw(), SQLITE_TRACE_STMT, &StatementTrace::OnTrace, this);
    }
    // Waits until at least `count` statements ran; returns them.
    std::vector<std::string> WaitFor(size_t count) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(5), [&] { return seen_.size() >= count; });
        return seen_;
    }

  private:
    static int OnTrace(unsigned, void* context, void* statement, void*) {
        auto* self = static_cast<StatementTrace*>(context);
        const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
        {
            std::scoped_lock guard(self->lock_);
            self->seen_.emplace_back(sql != nullptr ? sql : "");
        }
        self->changed_.notify_all();
        return 0;
    }
    std::mutex lock_;  // guards seen_
    std::condition_variable changed_;
    std::vector<std::string> seen_;
};

OpenedStatistics OpenOrFail(const std::string& path) {
    std::optional<OpenedStatistics> opened = OpenStatisticsDatabase(path);
    EXPECT_TRUE(opened.has_value()) << path;
    return opened ? std::move(*opened) : OpenedStatistics{};
}

class StatisticsLogTest : public ::testing::Test {
  protected:
    TestClock clock;
    TempFolder folder;
};

std::string EventRow(int32_t time, int32_t type, int32_t master) {
    return "INSERT INTO events (session, time, event, master) VALUES ('1', '" +
           std::to_string(time) + "', '" + std::to_string(type) + "', '" + std::to_string(master) +
           "')";
}

// While a receive batch runs, a wake lets exactly one statement through; the batch's end
// lets the rest follow in the same transaction.
TEST_F(StatisticsLogTest, GivesWayWhileABatchRuns) {
    StatisticsLog log;
    OpenedStatistics opened = OpenOrFail(folder.File("hold.db"));
    ASSERT_TRUE(opened.database);
    StatementTrace trace(*opened.database);
    log.Use(std::move(opened), kStatsEvents);

    log.BatchStarted();
    log.RecordEvent(2, 1);
    log.RecordEvent(4, 1);
    log.RecordEvent(8, 1);
    log.RecordMasterClosed(1, 1000);  // masters are not recorded here: only the wake
    EXPECT_EQ(trace.WaitFor(2),
              (std::vector<std::string>{"BEGIN Transaction", EventRow(1000, 2, 1)}));

    log.BatchEnded();
    EXPECT_EQ(trace.WaitFor(5),
              (std::vector<std::string>{"BEGIN Transaction", EventRow(1000, 2, 1),
                                        EventRow(1000, 4, 1), EventRow(1000, 8, 1), "COMMIT"}));
    log.Stop();
    LogFile file(folder.File("hold.db"));
    EXPECT_EQ(file.Value("SELECT count(*) FROM events"), "3");
}

// Statements made for one file are written there, under that file's session number, even
// when the application switched files before they ran.
TEST_F(StatisticsLogTest, StatementsStayWithTheFileTheyWereMadeFor) {
    OpenOrFail(folder.File("b.db"));  // b.db already saw a run: the next one is session 2
    StatisticsLog log;
    log.Use(OpenOrFail(folder.File("a.db")), kStatsEvents | kStatsMasters);
    log.RecordEvent(2, 1);
    log.RecordMasterConnected(1, 900, 16777343, 4000);
    log.BatchStarted();  // the connect's wake lets at most one statement through
    log.Use(OpenOrFail(folder.File("b.db")), kStatsEvents | kStatsMasters);
    log.RecordEvent(2, 2);
    log.BatchEnded();
    log.RecordShutdown({500, 2, 0, 0, 0});
    log.Stop();

    LogFile a(folder.File("a.db"));
    EXPECT_EQ(a.Rows("SELECT session, event, master FROM events"),
              (std::vector<Row>{{"1", "2", "1"}}));
    EXPECT_EQ(a.Rows("SELECT session, master, logofftime FROM masters"),
              (std::vector<Row>{{"1", "1", "NULL"}}));
    EXPECT_EQ(a.Value("SELECT count(*) FROM sessions"), "0");
    LogFile b(folder.File("b.db"));
    EXPECT_EQ(b.Rows("SELECT session, event, master FROM events"),
              (std::vector<Row>{{"2", "2", "2"}}));
    EXPECT_EQ(b.Rows("SELECT session, starttime, stoptime FROM sessions"),
              (std::vector<Row>{{"2", "500", "1000"}}));
}

// The shutdown closes every open masters row of the file, and counts a job that is still
// running once: it was started and finishes before DeInit returns.
TEST_F(StatisticsLogTest, ShutdownRows) {
    StatisticsLog log;
    log.Use(OpenOrFail(folder.File("shutdown.db")), kStatsMasters);
    {
        LogFile file(folder.File("shutdown.db"));
        file.Exec("INSERT INTO masters VALUES (0, 10, 1, 0, 0, NULL)");  // a run that crashed
        file.Exec("INSERT INTO masters VALUES (0, 10, 2, 0, 0, 20)");
    }
    clock.calendar = 3000;
    log.RecordShutdown({100, 4, 5, 3, 1});
    log.Stop();
    LogFile file(folder.File("shutdown.db"));
    EXPECT_EQ(file.Rows("SELECT master, logofftime FROM masters ORDER BY master"),
              (std::vector<Row>{{"1", "3000"}, {"2", "20"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM sessions"),
              (std::vector<Row>{{"1", "1.0.3.2", "1381", "100", "3000", "4", "7", "5"}}));
}

}  // namespace
}  // namespace orvex::stats_test
