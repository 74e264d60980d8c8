#include "sqlite/sqlite_query.hpp"

#include <climits>

#include "sqlite/sqlite_last_error.hpp"

namespace orvex {
namespace {

constexpr std::string_view kNotCalled = "Orvex_SQLite_Query was not called before";

std::string ErrorMessageOf(sqlite3* connection) {
    const char* message = connection != nullptr ? sqlite3_errmsg(connection) : nullptr;
    return message != nullptr ? std::string(message) : std::string();
}

}  // namespace

int ParameterIndex(int32_t column) noexcept {
    return column >= 0 && column < INT_MAX ? column + 1 : 0;
}

bool SQLiteQuery::Prepare(sqlite3* connection, TextView sql) {
    if (active_) {
        SetSQLiteError(
            "Orvex_SQLite_Query already called; Orvex_SQLite_EndQuery must be called first.");
        return false;
    }
    currentRow_ = -1;
    const std::string utf8 = ToUtf8(sql);
    // The length includes the terminator, which spares SQLite a copy of the text.
    const int length = utf8.size() < INT_MAX ? static_cast<int>(utf8.size()) + 1 : -1;
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(connection, utf8.c_str(), length, &prepared, nullptr) != SQLITE_OK) {
        sqlite3_finalize(prepared);
        SetSQLiteErrorFromUtf8(ErrorMessageOf(connection));
        return false;
    }
    statement_.reset(prepared);
    active_ = true;
    ClearSQLiteError();
    return true;
}

bool SQLiteQuery::End() {
    if (!active_) {
        SetSQLiteError(kNotCalled);
        return false;
    }
    // A query whose text held no statement ends too; otherwise the handle could never
    // prepare another query.
    active_ = false;
    if (sqlite3_finalize(statement_.release()) != SQLITE_OK) return false;
    ClearSQLiteError();
    return true;
}

void SQLiteQuery::Discard() noexcept {
    statement_.reset();
    active_ = false;
    currentRow_ = -1;
}

bool SQLiteQuery::SelectRow(int32_t row) {
    if (row < 0) {
        SetSQLiteError("Parameter iRow is less than 0");
        return false;
    }
    if (!active_) {
        SetSQLiteError(kNotCalled);
        return false;
    }
    if (statement_ == nullptr) return false;
    if (row == currentRow_) {
        ClearSQLiteError();
        return true;
    }
    if (currentRow_ == -1 || currentRow_ > row) {
        sqlite3_reset(statement_.get());
        currentRow_ = -1;
    }
    // 64-bit, as row - (-1) overflows for the largest row number.
    for (int64_t steps = static_cast<int64_t>(row) - currentRow_; steps > 0; --steps) {
        const int rc = sqlite3_step(statement_.get());
        if (rc == SQLITE_ROW) continue;
        currentRow_ = -1;
        if (rc == SQLITE_DONE) {
            SetSQLiteError(row == 0 ? "Can not reset to first line" : "Can not set next line");
        } else {
            // A step that fails has not reached a row: report SQLite's reason.
            SetSQLiteErrorFromUtf8(ErrorMessageOf(sqlite3_db_handle(statement_.get())));
        }
        return false;
    }
    currentRow_ = row;
    ClearSQLiteError();
    return true;
}

bool SQLiteQuery::StoreRow() {
    if (!CheckBinding("Orvex_SQLite_StoreRow")) return false;
    const int stepped = sqlite3_step(statement_.get());
    // The reset also follows a failed or row-producing step, so that the statement takes new
    // values and holds no lock; the statement no longer stands on any row either way.
    const int reset = sqlite3_reset(statement_.get());
    currentRow_ = -1;
    if (stepped != SQLITE_DONE || reset != SQLITE_OK) return false;
    ClearSQLiteError();
    return true;
}

int32_t SQLiteQuery::GetNumColumns() {
    if (!CheckRead()) return 0;
    ClearSQLiteError();
    return sqlite3_column_count(statement_.get());
}

Text SQLiteQuery::GetColumnName(int32_t column) {
    if (!CheckRead()) return Text();
    const char* name = sqlite3_column_name(statement_.get(), column);
    if (name == nullptr) {
        SetSQLiteError("Orvex_SQLite_GetColumnName error: Null pointer");
        return Text();
    }
    ClearSQLiteError();
    return FromUtf8(name);
}

Text SQLiteQuery::GetColumnTypeAsString(int32_t column) {
    if (!CheckRead()) return Text();
    const char* type = sqlite3_column_decltype(statement_.get(), column);
    if (type == nullptr) {
        SetSQLiteError("Null pointer");
        return Text();
    }
    ClearSQLiteError();
    return FromUtf8(type);
}

bool SQLiteQuery::CheckRead() {
    if (!active_) {
        SetSQLiteError(kNotCalled);
        return false;
    }
    return statement_ != nullptr && currentRow_ != -1;
}

bool SQLiteQuery::CheckReadColumn(int32_t column) {
    return CheckRead() && column >= 0 && column < sqlite3_data_count(statement_.get());
}

bool SQLiteQuery::CheckBinding(std::string_view function) {
    if (!active_) {
        SetSQLiteError(
            std::string("Orvex_SQLite_Query must be called before calling ").append(function));
        return false;
    }
    return statement_ != nullptr;
}

}  // namespace orvex
