// An open SQLite connection, and the statement helpers shared by the storage layer and the
// slave's statistics log. Every text here is UTF-8.
//
// Values that come from outside (job names, error texts, failed statements) reach the
// database either bound as statement parameters (ExecBound, QueryValue) or, where a
// statement must be kept as one SQL text, between single quotes with every quote inside
// doubled (DoubleQuotes). Either way a value is stored unchanged and cannot end or extend the
// statement that carries it.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sqlite/sqlite_statement.hpp"

namespace orvex {

class SQLiteConnection {
  public:
    // Opens utf8Path with sqlite3_open_v2 and `flags`, then sets the busy timeout. Null when
    // SQLite refuses; its message goes to *error when given.
    static std::unique_ptr<SQLiteConnection> Open(const std::string& utf8Path, int flags,
                                                  int busyTimeoutMs, std::string* error = nullptr);

    explicit SQLiteConnection(sqlite3* connection) noexcept : connection_(connection) {}
    SQLiteConnection(const SQLiteConnection&) = delete;
    SQLiteConnection& operator=(const SQLiteConnection&) = delete;
    // Closes the connection if Close was not called.
    ~SQLiteConnection();

    // Runs every statement of `sql` in order (sqlite3_exec). Nullopt on success, else
    // SQLite's message for the failing statement; the statements before it stay executed.
    std::optional<std::string> Exec(const std::string& sql);

    // Runs the one statement of `sql` to its end with its ? parameters bound to `values` in
    // order. Nullopt on success, else SQLite's message.
    std::optional<std::string> ExecBound(std::string_view sql, std::span<const SQLiteValue> values);

    // The first column of the first row of the one-statement query `sql` with `values`
    // bound; nullopt when there is no row or the query fails.
    std::optional<SQLiteValue> QueryValue(std::string_view sql,
                                          std::span<const SQLiteValue> values = {});

    // True while the connection is inside a transaction (not in autocommit mode).
    bool InTransaction() const noexcept { return sqlite3_get_autocommit(connection_) == 0; }

    // SQLite's message for the latest failure on this connection.
    std::string ErrorMessage() const;

    // Closes the connection: SQLITE_OK, or SQLite's refusal (then the connection is handed to
    // sqlite3_close_v2, which releases it once its last statement is finalized). The object
    // holds no connection afterwards in both cases.
    int Close() noexcept;

    sqlite3* Raw() const noexcept { return connection_; }

  private:
    sqlite3* connection_;
};

// `text` with every single quote doubled, for use between single quotes in SQL text.
std::string DoubleQuotes(std::string_view text);

}  // namespace orvex
