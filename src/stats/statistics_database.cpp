#include "stats/statistics_database.hpp"

#include <climits>
#include <variant>

#include "core/clock.hpp"
#include "stats/statistics_statements.hpp"

namespace orvex {
namespace {

// How long a statement waits for a lock that another connection holds on the file.
constexpr int kBusyTimeoutMs = 20000;

// Takes the write lock at once: the table checks, the session read and its update are one
// step for every other connection to the file.
constexpr std::string_view kBeginImmediate = "BEGIN IMMEDIATE Transaction";

// The number stored under CurrentSession, as the file holds it; 0 when there is none or it
// is not a number. Kept below INT32_MAX so that the next number still fits.
int32_t StoredSession(SQLiteConnection& database) {
    const std::optional<SQLiteValue> value = database.QueryValue(CurrentSessionQuery());
    if (!value) return 0;
    int64_t number = 0;
    if (const auto* integer = std::get_if<int64_t>(&*value)) {
        number = *integer;
    } else if (const auto* real = std::get_if<double>(&*value)) {
        number = *real >= 0 && *real < INT32_MAX ? static_cast<int64_t>(*real) : 0;
    }
    if (number < 0) return 0;
    return number >= INT32_MAX ? INT32_MAX - 1 : static_cast<int32_t>(number);
}

void CreateMissingTables(SQLiteConnection& database, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        const StatisticsTable& table = kStatisticsTables[i];
        if (!TableExists(database, table.name)) ExecLogged(database, std::string(table.create));
    }
}

// A file that SQLite opens lazily may still be no database, or one it can only read; both
// count as a file that cannot be opened.
bool UsableDatabase(SQLiteConnection& database) {
    if (!database.QueryValue("SELECT count(*) FROM sqlite_master")) return false;
    return sqlite3_db_readonly(database.Raw(), "main") == 0;
}

}  // namespace

bool ExecLogged(SQLiteConnection& database, const std::string& sql) {
    const std::optional<std::string> error = database.Exec(sql);
    if (!error) return true;
    const SQLiteValue values[] = {int64_t{CalendarTime()}, sql, *error};
    (void)database.ExecBound(kDbErrorInsert, values);
    return false;
}

bool TableExists(SQLiteConnection& database, std::string_view table) {
    const std::optional<SQLiteValue> name = database.QueryValue(TableExistsQuery(table));
    if (!name) return false;
    const auto* text = std::get_if<std::string>(&*name);
    return text != nullptr && !text->empty();
}

std::optional<OpenedStatistics> OpenStatisticsDatabase(const std::string& utf8Path) {
    // An empty name would give SQLite's private temporary database, which no one can read.
    if (utf8Path.empty()) return std::nullopt;
    std::shared_ptr<SQLiteConnection> database = SQLiteConnection::Open(
        utf8Path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, kBusyTimeoutMs);
    if (!database || !UsableDatabase(*database)) return std::nullopt;

    ExecLogged(*database, std::string(kBeginImmediate));
    CreateMissingTables(*database, 0, kTablesBeforeSession);
    const int32_t session = StoredSession(*database) + 1;
    ExecLogged(*database, DeleteCurrentSessionStatement());
    ExecLogged(*database, StoreCurrentSessionStatement(session));
    CreateMissingTables(*database, kTablesBeforeSession, kStatisticsTables.size());
    if (database->InTransaction()) ExecLogged(*database, std::string(kCommitStatement));
    return OpenedStatistics{std::move(database), session};
}

}  // namespace orvex
