// A real slave with its statistics log, driven by raw masters; the file is read back with
// the plain sqlite3 API after Orvex_Slave_DeInit.
#include <gtest/gtest.h>

#include <fstream>

#include "protocol/messages.hpp"
#include "slave/slave.hpp"
#include "stats/statistics_statements.hpp"
#include "stats/stats_fixture.hpp"

namespace orvex::stats_test {
namespace {

constexpr int32_t kAll = 7;
constexpr int32_t kLoopbackIp = 16777343;  // 127.0.0.1 as Orvex_Slave_GetMasterIP gives it

OrvexReturnValue* ORVEX_CALL NullJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                     OrvexReceivedStream*) {
    return nullptr;
}

class StatsSlaveTest : public ::testing::Test {
  protected:
    TestClock clock;
    TempFolder folder;
    const std::string path = folder.File("stats.db");
};

const std::vector<Row> kSchema = {
    {"dberrors", "CREATE TABLE dberrors (time INT, query TEXT, description TEXT)"},
    {"apperrors", "CREATE TABLE apperrors (session INT, time INT, description TEXT)"},
    {"internal", "CREATE TABLE internal (entry TEXT, value INT)"},
    {"sessions",
     "CREATE TABLE sessions (session INT UNIQUE, version TEXT, build INT, starttime INT, "
     "stoptime INT, mastertotal INT, jobstotal INT, jobsdone INT)"},
    {"jobtable", "CREATE TABLE jobtable (session INT, id INT, name TEXT, description TEXT)"},
    {"jobs", "CREATE TABLE jobs (session INT, time INT, id INT, master INT)"},
    {"events", "CREATE TABLE events (session INT, time INT, event INT, master INT)"},
    {"masters",
     "CREATE TABLE masters (session INT, time INT, master INT, ip INT, port INT, "
     "logofftime INT)"},
};

// Two runs on one file: every table and column of the first, then the second run's session
// number and the shutdown closing the rows that were left open.
TEST_F(StatsSlaveTest, RecordsRunsWithSessionNumbersPerFile) {
    const std::string name = "Grüße 'x'";
    const std::string description = "it's \"quoted\"";
    int32_t port1 = 0;
    int32_t port2 = 0;
    {
        clock.calendar = 1000;
        TestSlave slave;
        ASSERT_NE(slave.Enable(path, kAll), 0);
        slave.AddJob(name, description, &NullJob);
        clock.calendar = 2000;
        test::RawPeer first = slave.Connect(1);
        port1 = LocalPortOf(first);
        ASSERT_TRUE(first.SendBody(JobRequest(5, name)));
        ASSERT_TRUE(first.SendBody(test::Words({99})));
        ASSERT_TRUE(WaitForResult(first, 5));
        Sync(first);
        EXPECT_EQ(Orvex_Slave_GetMasterIP(slave.handle, 42), 0);
        Slave::FromHandle(slave.handle)->SetErrorText("can't read 'x'");
        clock.calendar = 2500;
        test::RawPeer second = slave.Connect(2);
        port2 = LocalPortOf(second);
        clock.calendar = 3000;
        slave.Disconnect(first, 1);
        clock.calendar = 4000;
        slave.DeInit();
    }
    LogFile file(path);
    EXPECT_EQ(file.Rows("SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid"),
              kSchema);
    EXPECT_EQ(file.Rows("SELECT * FROM internal"), (std::vector<Row>{{"CurrentSession", "1"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM sessions"),
              (std::vector<Row>{{"1", "1.0.3.2", "1381", "1000", "4000", "2", "1", "1"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM jobtable"),
              (std::vector<Row>{{"1", "1", name, description}}));
    EXPECT_EQ(file.Rows("SELECT * FROM jobs"), (std::vector<Row>{{"1", "2000", "1", "1"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM events ORDER BY rowid"),
              (std::vector<Row>{{"1", "2000", "2", "1"},
                                {"1", "2000", "4", "1"},
                                {"1", "2000", "7", "1"},
                                {"1", "2000", "8", "1"},
                                {"1", "2500", "2", "2"},
                                {"1", "3000", "1", "1"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM apperrors ORDER BY rowid"),
              (std::vector<Row>{{"1", "2000", "Orvex_Slave_GetMasterIP(): invalid master number"},
                                {"1", "2000", "can't read 'x'"}}));
    const std::string ip = std::to_string(kLoopbackIp);
    EXPECT_EQ(file.Rows("SELECT * FROM masters ORDER BY rowid"),
              (std::vector<Row>{{"1", "2000", "1", ip, std::to_string(port1), "3000"},
                                {"1", "2500", "2", ip, std::to_string(port2), "4000"}}));
    EXPECT_EQ(file.Value("SELECT count(*) FROM dberrors"), "0");
    EXPECT_EQ(file.Value("SELECT typeof(time) || typeof(ip) FROM masters"), "integerinteger");

    // A row that a crashed run left open is closed by the next run's shutdown.
    file.Exec("UPDATE masters SET logofftime = NULL WHERE master = 2");
    {
        clock.calendar = 5000;
        TestSlave slave;
        ASSERT_NE(slave.Enable(path, kAll), 0);
        clock.calendar = 6000;
        test::RawPeer peer = slave.Connect(1);
        clock.calendar = 7000;
        slave.DeInit();
    }
    EXPECT_EQ(file.Rows("SELECT * FROM internal"), (std::vector<Row>{{"CurrentSession", "2"}}));
    EXPECT_EQ(file.Rows("SELECT session, starttime, stoptime, mastertotal, jobstotal FROM "
                        "sessions ORDER BY session"),
              (std::vector<Row>{{"1", "1000", "4000", "2", "1"}, {"2", "5000", "7000", "1", "0"}}));
    EXPECT_EQ(file.Rows("SELECT session, master, logofftime FROM masters ORDER BY rowid"),
              (std::vector<Row>{{"1", "1", "3000"}, {"1", "2", "7000"}, {"2", "1", "7000"}}));
    EXPECT_EQ(file.Rows("SELECT * FROM events WHERE session = 2"),
              (std::vector<Row>{{"2", "6000", "2", "1"}}));
}

// Each category bit selects its tables; categories 0 after recording pauses everything but
// the session row.
TEST_F(StatsSlaveTest, CategoriesSelectTheRecords) {
    const struct {
        const char* label;
        std::vector<int32_t> enables;  // successive categories given
        const char* counts;            // events, jobtable, jobs, apperrors, masters, sessions
    } cases[] = {
        {"events", {1}, "4 0 0 0 0 1"},
        {"jobs and errors", {2}, "0 1 1 1 0 1"},
        {"masters", {4}, "0 0 0 0 1 1"},
        {"paused", {7, 0}, "0 0 0 0 0 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string file = folder.File(std::string(c.label) + ".db");
        {
            TestSlave slave;
            for (int32_t categories : c.enables) slave.Enable(file, categories);
            slave.AddJob("Job", "", &NullJob);
            test::RawPeer peer = slave.Connect(1);
            ASSERT_TRUE(peer.SendBody(JobRequest(1, "Job")));
            ASSERT_TRUE(WaitForResult(peer, 1));
            Sync(peer);
            Orvex_Slave_KickMaster(slave.handle, 7);  // an error
            slave.Disconnect(peer, 1);
        }
        LogFile log(file);
        std::string counts;
        for (const char* table : {"events", "jobtable", "jobs", "apperrors", "masters"}) {
            counts += log.Value(std::string("SELECT count(*) FROM ") + table) + " ";
        }
        counts += log.Value("SELECT count(*) FROM sessions");
        EXPECT_EQ(counts, c.counts);
    }
}

// A statement that fails (its table was dropped by hand) leaves a dberrors row with its exact
// text, quotes doubled as they ran, and SQLite's message; the other records still land.
TEST_F(StatsSlaveTest, FailingStatementsAreRecordedInDbErrors) {
    clock.calendar = 2000;
    {
        test::RawPeer peer;  // closed after DeInit
        TestSlave slave;
        ASSERT_NE(slave.Enable(path, kAll), 0);
        {
            LogFile file(path);
            file.Exec("DROP TABLE jobtable");
            file.Exec("DROP TABLE events");
        }
        slave.AddJob("O'Brien", "it's", &NullJob);
        peer = slave.Connect(1);
        Sync(peer);
    }
    LogFile file(path);
    EXPECT_EQ(
        file.Rows("SELECT * FROM dberrors ORDER BY rowid"),
        (std::vector<Row>{
            {"2000",
             "INSERT INTO jobtable (session, id, name, description) VALUES ('1', '1', "
             "'O''Brien', 'it''s')",
             "no such table: jobtable"},
            {"2000",
             "INSERT INTO events (session, time, event, master) VALUES ('1', '2000', '2', '1')",
             "no such table: events"},
            {"2000",
             "INSERT INTO events (session, time, event, master) VALUES ('1', '2000', '8', '1')",
             "no such table: events"}}));
    EXPECT_EQ(file.Value("SELECT count(*) FROM masters"), "1");
    EXPECT_EQ(file.Value("SELECT count(*) FROM sessions"), "1");
}

// A file that is no writable database is refused; a database opened before stays in use,
// with the categories of the refused call.
TEST_F(StatsSlaveTest, FilesThatCannotBeOpenedAreRefused) {
    const std::string notDatabase = folder.File("notes.txt");
    const std::string text(2048, 'x');
    std::ofstream(notDatabase) << text;
    {
        test::RawPeer peer;  // closed after DeInit
        TestSlave slave;
        EXPECT_EQ(slave.Enable(folder.File(""), kAll), 0);  // the folder itself
        EXPECT_EQ(slave.Enable("", kAll), 0);
        EXPECT_EQ(slave.Enable(notDatabase, kAll), 0);
        ASSERT_NE(slave.Enable(path, kAll), 0);
        EXPECT_EQ(slave.Enable(notDatabase, kStatsEvents), 0);
        slave.AddJob("Job", "", &NullJob);  // jobs are no longer recorded
        peer = slave.Connect(1);
        Sync(peer);
    }
    std::ifstream in(notDatabase);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    LogFile file(path);
    EXPECT_EQ(file.Value("SELECT count(*) FROM jobtable"), "0");
    EXPECT_EQ(file.Value("SELECT count(*) FROM events"), "2");
    EXPECT_EQ(file.Value("SELECT count(*) FROM sessions"), "1");
}

// Two slaves that log into one file at the same time get different session numbers, and
// both session rows are kept.
TEST_F(StatsSlaveTest, SlavesSharingAFileGetTheirOwnSessions) {
    {
        test::RawPeer a;  // closed after DeInit
        test::RawPeer b;
        TestSlave first;
        TestSlave second;
        ASSERT_NE(first.Enable(path, kAll), 0);
        ASSERT_NE(second.Enable(path, kAll), 0);
        a = first.Connect(1);
        b = second.Connect(1);
        Sync(a);
        Sync(b);
    }
    LogFile file(path);
    EXPECT_EQ(file.Value("SELECT value FROM internal"), "2");
    EXPECT_EQ(file.Rows("SELECT session FROM sessions ORDER BY session"),
              (std::vector<Row>{{"1"}, {"2"}}));
    EXPECT_EQ(file.Rows("SELECT session, event FROM events ORDER BY session, rowid"),
              (std::vector<Row>{{"1", "2"}, {"1", "8"}, {"2", "2"}, {"2", "8"}}));
    EXPECT_EQ(file.Value("SELECT count(*) FROM dberrors"), "0");
}

}  // namespace
}  // namespace orvex::stats_test
