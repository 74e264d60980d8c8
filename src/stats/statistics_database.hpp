// Opening a slave's statistics database, and the statement execution that records its own
// failures in the database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sqlite/sqlite_connection.hpp"

namespace orvex {

// Runs `sql` (every statement in it). When that fails, writes a dberrors row with the
// current time, `sql` exactly as it ran and SQLite's message; the failure of that row itself
// is ignored. True when `sql` succeeded.
bool ExecLogged(SQLiteConnection& database, const std::string& sql);

// True when sqlite_master names `table` (a fixed table name of the schema).
bool TableExists(SQLiteConnection& database, std::string_view table);

struct OpenedStatistics {
    std::shared_ptr<SQLiteConnection> database;
    int32_t session = 0;
};

// Opens (creating the file when it is missing) the database at utf8Path, creates the tables
// that are missing and reserves the next session number of the file. All of that runs in the
// calling thread in one immediate transaction, so slaves that open the same file at once get
// different numbers. Nullopt when the file cannot be opened as a writable database.
std::optional<OpenedStatistics> OpenStatisticsDatabase(const std::string& utf8Path);

}  // namespace orvex
