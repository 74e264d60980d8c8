#include "sqlite/sqlite_connection.hpp"

namespace orvex {
namespace {

StatementPtr PrepareOne(sqlite3* connection, std::string_view sql, int* rc) {
    sqlite3_stmt* statement = nullptr;
    *rc = sqlite3_prepare_v2(connection, sql.data(), static_cast<int>(sql.size()), &statement,
                             nullptr);
    return StatementPtr(statement);
}

std::string MessageOf(sqlite3* connection) {
    const char* message = sqlite3_errmsg(connection);
    return message != nullptr ? std::string(message) : std::string();
}

}  // namespace

std::unique_ptr<SQLiteConnection> SQLiteConnection::Open(const std::string& utf8Path, int flags,
                                                         int busyTimeoutMs, std::string* error) {
    // The object exists before the connection, so that nothing can leak between the two; SQLite
    // may hand out a connection even when the open fails, and it is closed with the object.
    auto connection = std::make_unique<SQLiteConnection>(nullptr);
    const int rc = sqlite3_open_v2(utf8Path.c_str(), &connection->connection_, flags, nullptr);
    sqlite3* raw = connection->connection_;
    if (rc != SQLITE_OK || raw == nullptr) {
        if (error != nullptr) {
            *error = raw != nullptr ? MessageOf(raw) : std::string(sqlite3_errstr(rc));
        }
        return nullptr;
    }
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    return connection;
}

SQLiteConnection::~SQLiteConnection() {
    Close();
}

std::optional<std::string> SQLiteConnection::Exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(connection_, sql.c_str(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return std::nullopt;
    std::string text = message != nullptr ? std::string(message) : std::string(sqlite3_errstr(rc));
    sqlite3_free(message);
    return text;
}

std::optional<std::string> SQLiteConnection::ExecBound(std::string_view sql,
                                                       std::span<const SQLiteValue> values) {
    if (sql.size() > INT32_MAX) return std::string(sqlite3_errstr(SQLITE_TOOBIG));
    int rc = SQLITE_OK;
    StatementPtr statement = PrepareOne(connection_, sql, &rc);
    if (rc != SQLITE_OK) return MessageOf(connection_);
    if (statement == nullptr) return std::nullopt;  // only white space or comments
    rc = BindValues(statement.get(), values);
    if (rc != SQLITE_OK) return std::string(sqlite3_errstr(rc));
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) return MessageOf(connection_);
    return std::nullopt;
}

std::optional<SQLiteValue> SQLiteConnection::QueryValue(std::string_view sql,
                                                        std::span<const SQLiteValue> values) {
    if (sql.size() > INT32_MAX) return std::nullopt;
    int rc = SQLITE_OK;
    StatementPtr statement = PrepareOne(connection_, sql, &rc);
    if (rc != SQLITE_OK || statement == nullptr) return std::nullopt;
    if (BindValues(statement.get(), values) != SQLITE_OK) return std::nullopt;
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
    sqlite3_stmt* row = statement.get();
    switch (sqlite3_column_type(row, 0)) {
        case SQLITE_INTEGER:
            return SQLiteValue(static_cast<int64_t>(sqlite3_column_int64(row, 0)));
        case SQLITE_FLOAT:
            return SQLiteValue(sqlite3_column_double(row, 0));
        case SQLITE_NULL:
            return SQLiteValue(std::monostate());
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
            const int length = sqlite3_column_bytes(row, 0);
            return SQLiteValue(text != nullptr ? std::string(text, length) : std::string());
        }
    }
}

std::string SQLiteConnection::ErrorMessage() const {
    return MessageOf(connection_);
}

int SQLiteConnection::Close() noexcept {
    if (connection_ == nullptr) return SQLITE_OK;
    sqlite3* connection = connection_;
    connection_ = nullptr;
    const int rc = sqlite3_close(connection);
    if (rc != SQLITE_OK) sqlite3_close_v2(connection);
    return rc;
}

std::string DoubleQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out;
}

}  // namespace orvex
