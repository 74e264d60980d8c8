// The SQL texts of the statistics log: exact, and values with quotes stay inside their
// statement.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "stats/statistics_statements.hpp"

namespace orvex {
namespace {

TEST(StatisticsStatements, TextsAreExact) {
    const struct {
        std::string actual;
        const char* expected;
    } cases[] = {
        {EventStatement(3, 1700000000, 255, 0),
         "INSERT INTO events (session, time, event, master) VALUES ('3', '1700000000', '255', "
         "'0')"},
        {JobTableStatement(1, 2, "Say 'hi'", "it''s"),
         "INSERT INTO jobtable (session, id, name, description) VALUES ('1', '2', 'Say ''hi''', "
         "'it''''s')"},
        {JobStatement(1, 50, 2, 7),
         "INSERT INTO jobs (session, time, id, master) VALUES ('1', '50', '2', '7')"},
        {AppErrorStatement(1, 50, "'); DROP TABLE jobs; --"),
         "INSERT INTO apperrors (session, time, description) VALUES ('1', '50', "
         "'''); DROP TABLE jobs; --')"},
        {MasterStatement(4, 60, 1, -939524086, 5000),
         "INSERT INTO masters (session, time, master, ip, port) VALUES ('4', '60', '1', "
         "'-939524086', '5000')"},
        {LogOffStatement(70, 60, 1),
         "UPDATE masters SET logofftime = '70' WHERE time = '60' AND master = '1'"},
        {LogOffAllStatement(80), "UPDATE masters SET logofftime = '80' WHERE logofftime IS NULL"},
        {SessionStatement({2, 10, 80, 3, 12, 11}),
         "INSERT INTO sessions (session, version, build, starttime, stoptime, mastertotal, "
         "jobstotal, jobsdone) VALUES ('2', '1.0.3.2', '1381', '10', '80', '3', '12', '11')"},
        {DeleteCurrentSessionStatement(), "DELETE FROM internal WHERE entry = 'CurrentSession'"},
        {StoreCurrentSessionStatement(9),
         "INSERT INTO internal (entry, value) VALUES ('CurrentSession', '9')"},
        {CurrentSessionQuery(), "SELECT value FROM internal WHERE entry = 'CurrentSession'"},
        {TableExistsQuery("events"), "SELECT name FROM sqlite_master WHERE name ='events'"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

// Each text is one complete statement: SQLite finds nothing after it, whatever the values.
TEST(StatisticsStatements, ValuesCannotExtendTheStatement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    const std::string texts[] = {
        JobTableStatement(1, 1, "x'); DELETE FROM jobtable; --", "'''"),
        AppErrorStatement(1, 1, "a';b'');c"),
    };
    for (const auto& table : kStatisticsTables) {
        ASSERT_EQ(sqlite3_exec(db, std::string(table.create).c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    for (const std::string& sql : texts) {
        sqlite3_stmt* statement = nullptr;
        const char* tail = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, &tail), SQLITE_OK) << sql;
        EXPECT_STREQ(tail, "") << sql;
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
}

}  // namespace
}  // namespace orvex
