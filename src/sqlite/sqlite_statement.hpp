// Owning handle of a prepared SQLite statement and the binding of plain values to it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>

namespace orvex {

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
// Finalizes the statement when dropped. Call sqlite3_finalize(ptr.release()) instead where
// its result matters.
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One value bound to a statement parameter: SQL NULL, an integer, a real or a UTF-8 text.
using SQLiteValue = std::variant<std::monostate, int64_t, double, std::string>;

// Binds values[i] to parameter i + 1; SQLite copies texts. SQLITE_OK or the first failure.
int BindValues(sqlite3_stmt* statement, std::span<const SQLiteValue> values);

}  // namespace orvex
