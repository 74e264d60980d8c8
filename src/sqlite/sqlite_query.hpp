// The one query that a database handle may carry: a prepared statement, read row by row or run
// again and again with new bound values.
//
// States: no query (active_ false); prepared, no row (active_, currentRow_ -1); on row r
// (active_, currentRow_ r). The cursor is forward-only like SQLite's: a backward move resets
// the statement and steps again up to the wanted row.
//
// Every operation reports through the storage layer's last-error text; the caller has set it
// to "failed" before calling, and an operation sets the empty text when it succeeds.
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "core/memory.hpp"
#include "core/text.hpp"
#include "sqlite/sqlite_statement.hpp"

namespace orvex {

class SQLiteQuery {
  public:
    SQLiteQuery() = default;
    SQLiteQuery(const SQLiteQuery&) = delete;
    SQLiteQuery& operator=(const SQLiteQuery&) = delete;

    bool active() const noexcept { return active_; }
    int32_t currentRow() const noexcept { return currentRow_; }

    // Prepares the first statement of `sql` (the rest is ignored); not run yet. Fails when a
    // query is active or SQLite refuses the text (its message becomes the error text). A
    // text without any statement prepares successfully with no statement.
    bool Prepare(sqlite3* connection, TextView sql);
    // Ends the query and finalizes its statement; the query is ended even when that fails.
    bool End();
    // Finalizes the statement without reporting (handle closing).
    void Discard() noexcept;

    // Puts the statement on the 0-based `row`.
    bool SelectRow(int32_t row);
    // Runs the statement once to its end and resets it; bound values stay bound.
    bool StoreRow();

    int32_t GetNumColumns();
    // Column metadata of the current row's statement; empty text on failure.
    Text GetColumnName(int32_t column);
    Text GetColumnTypeAsString(int32_t column);

    // Typed values: bound to parameter column + 1 of the statement.
    bool StoreAsLong(int32_t column, int32_t value);
    bool StoreAsQuad(int32_t column, int64_t value);
    bool StoreAsDouble(int32_t column, double value);
    bool StoreAsString(int32_t column, TextView value);
    bool StoreAsBlob(int32_t column, const void* data, int32_t size, int32_t flags, int level);

    // Typed values: read from `column` of the current row; 0 / empty on failure.
    int32_t GetAsLong(int32_t column);
    int64_t GetAsQuad(int32_t column);
    double GetAsDouble(int32_t column);
    Text GetAsString(int32_t column);
    int32_t GetAsBlobFlags(int32_t column);
    int32_t GetAsBlobSize(int32_t column);
    // A library memory block with the caller's data; null on failure.
    BlockPtr<> GetAsBlobPointer(int32_t column);

  private:
    // True when the statement stands on a row; else sets the error text.
    bool CheckRead();
    // True when a statement can take values; else sets the error text naming `function`.
    bool CheckBinding(std::string_view function);
    // CheckRead and a column that the current row has.
    bool CheckReadColumn(int32_t column);
    // The header of the stored blob in `column`, for the flags and size getters.
    bool ReadBlobHeader(int32_t column, int32_t* flags, int32_t* dataSize);
    // SQLITE_OK from a bind call sets the empty text.
    static bool BindSucceeded(int rc);

    bool active_ = false;
    StatementPtr statement_;  // none while no query is active, or for a text without statement
    int32_t currentRow_ = -1;
};

// SQLite parameter number of a 0-based column, or 0 (never a valid parameter) when the column
// has none.
int ParameterIndex(int32_t column) noexcept;

}  // namespace orvex
