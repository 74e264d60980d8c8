#include "stats/statistics_statements.hpp"

#include <initializer_list>

#include "sqlite/sqlite_connection.hpp"

namespace orvex {
namespace {

std::string Number(int32_t value) {
    return std::to_string(value);
}

// prefix, the values separated by "', '", then "')". The prefix ends with "('".
std::string Insert(std::string_view prefix, std::initializer_list<std::string> values) {
    std::string sql(prefix);
    bool first = true;
    for (const std::string& value : values) {
        if (!first) sql += "', '";
        sql += value;
        first = false;
    }
    sql += "')";
    return sql;
}

}  // namespace

std::string TableExistsQuery(std::string_view table) {
    return "SELECT name FROM sqlite_master WHERE name ='" + DoubleQuotes(table) + "'";
}

std::string CurrentSessionQuery() {
    return "SELECT value FROM internal WHERE entry = '" + std::string(kCurrentSessionKey) + "'";
}

std::string DeleteCurrentSessionStatement() {
    return "DELETE FROM internal WHERE entry = '" + std::string(kCurrentSessionKey) + "'";
}

std::string StoreCurrentSessionStatement(int32_t session) {
    return Insert("INSERT INTO internal (entry, value) VALUES ('",
                  {std::string(kCurrentSessionKey), Number(session)});
}

std::string EventStatement(int32_t session, int32_t time, int32_t type, int32_t master) {
    return Insert("INSERT INTO events (session, time, event, master) VALUES ('",
                  {Number(session), Number(time), Number(type), Number(master)});
}

std::string JobTableStatement(int32_t session, int32_t number, std::string_view name,
                              std::string_view description) {
    return Insert("INSERT INTO jobtable (session, id, name, description) VALUES ('",
                  {Number(session), Number(number), DoubleQuotes(name), DoubleQuotes(description)});
}

std::string JobStatement(int32_t session, int32_t time, int32_t number, int32_t master) {
    return Insert("INSERT INTO jobs (session, time, id, master) VALUES ('",
                  {Number(session), Number(time), Number(number), Number(master)});
}

std::string AppErrorStatement(int32_t session, int32_t time, std::string_view text) {
    return Insert("INSERT INTO apperrors (session, time, description) VALUES ('",
                  {Number(session), Number(time), DoubleQuotes(text)});
}

std::string MasterStatement(int32_t session, int32_t connectTime, int32_t master, int32_t ip,
                            int32_t port) {
    return Insert("INSERT INTO masters (session, time, master, ip, port) VALUES ('",
                  {Number(session), Number(connectTime), Number(master), Number(ip), Number(port)});
}

std::string LogOffStatement(int32_t now, int32_t connectTime, int32_t master) {
    return "UPDATE masters SET logofftime = '" + Number(now) + "' WHERE time = '" +
           Number(connectTime) + "' AND master = '" + Number(master) + "'";
}

std::string LogOffAllStatement(int32_t now) {
    return "UPDATE masters SET logofftime = '" + Number(now) + "' WHERE logofftime IS NULL";
}

std::string SessionStatement(const SessionSummary& summary) {
    return Insert(
        "INSERT INTO sessions (session, version, build, starttime, stoptime, mastertotal, "
        "jobstotal, jobsdone) VALUES ('",
        {Number(summary.session), std::string(kStatsVersion), Number(kStatsBuild),
         Number(summary.startTime), Number(summary.stopTime), Number(summary.masterTotal),
         Number(summary.jobsTotal), Number(summary.jobsDone)});
}

}  // namespace orvex
