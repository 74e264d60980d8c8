// The SQL texts of the slave's statistics database: the schema and every statement the log
// writes, as UTF-8.
//
// Statements are plain concatenations of fixed pieces and values: numbers in decimal, texts
// between single quotes with every quote inside doubled, so that a value is stored unchanged
// and can neither end nor extend the statement that carries it. Each text holds exactly one
// statement, and it is the text that runs: a dberrors row records it as it is.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

// Category bits of Orvex_Slave_EnableStatistics.
inline constexpr int32_t kStatsEvents = 1;
inline constexpr int32_t kStatsJobs = 2;  // jobtable, jobs and apperrors
inline constexpr int32_t kStatsMasters = 4;

inline constexpr std::string_view kStatsVersion = "1.0.3.2";
inline constexpr int32_t kStatsBuild = 1381;
inline constexpr std::string_view kCurrentSessionKey = "CurrentSession";

struct StatisticsTable {
    std::string_view name;
    std::string_view create;
};

// In the order in which a missing table is created: the first four before the session
// number is read, the other four after it.
inline constexpr std::array<StatisticsTable, 8> kStatisticsTables{{
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
}};
inline constexpr size_t kTablesBeforeSession = 4;

inline constexpr std::string_view kBeginStatement = "BEGIN Transaction";
inline constexpr std::string_view kCommitStatement = "COMMIT";
// The dberrors row is written with bound values: the failed statement, which always holds
// quotes, goes in exactly as it ran.
inline constexpr std::string_view kDbErrorInsert =
    "INSERT INTO dberrors (time, query, description) VALUES (?, ?, ?)";

// Queries of the opening of a database.
std::string TableExistsQuery(std::string_view table);
std::string CurrentSessionQuery();
std::string DeleteCurrentSessionStatement();
std::string StoreCurrentSessionStatement(int32_t session);

// Records of a run. Texts (UTF-8) are quoted by these functions.
std::string EventStatement(int32_t session, int32_t time, int32_t type, int32_t master);
std::string JobTableStatement(int32_t session, int32_t number, std::string_view name,
                              std::string_view description);
std::string JobStatement(int32_t session, int32_t time, int32_t number, int32_t master);
std::string AppErrorStatement(int32_t session, int32_t time, std::string_view text);
std::string MasterStatement(int32_t session, int32_t connectTime, int32_t master, int32_t ip,
                            int32_t port);
std::string LogOffStatement(int32_t now, int32_t connectTime, int32_t master);

// Shutdown: every open masters row of the file is closed, and the run's summary.
std::string LogOffAllStatement(int32_t now);
struct SessionSummary {
    int32_t session = 0;
    int32_t startTime = 0;
    int32_t stopTime = 0;
    int32_t masterTotal = 0;
    int32_t jobsTotal = 0;
    int32_t jobsDone = 0;
};
std::string SessionStatement(const SessionSummary& summary);

}  // namespace orvex
