// SQLiteDatabase: the record behind an OrvexSQLite handle. It owns one connection, the layer's
// transaction batching on it, and the handle's one query.
//
// Batching: Update opens a transaction ("BEGIN Transaction") on its first call and leaves it
// pending; UpdateSync, Flush, Query and Close commit it. A statement that fails inside the
// batch does not roll the batch back. The pending flag follows the connection: when SQLite
// (or the caller's own SQL) ends the transaction, the flag is cleared with it, and a COMMIT
// that SQLite refuses (a busy file) leaves the batch pending for a later attempt.
//
// A handle is used by one thread at a time; only the layer's last-error text is shared.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/text.hpp"
#include "sqlite/sqlite_connection.hpp"
#include "sqlite/sqlite_query.hpp"

namespace orvex {

inline constexpr int kSQLiteBusyTimeoutMs = 20000;

class SQLiteDatabase {
  public:
    // Create replaces `fileName` with an empty file and opens it; Open opens an existing file
    // and never creates one. Null on failure, with the layer's error text set.
    static std::unique_ptr<SQLiteDatabase> Create(TextView fileName);
    static std::unique_ptr<SQLiteDatabase> Open(TextView fileName);

    explicit SQLiteDatabase(std::unique_ptr<SQLiteConnection> connection) noexcept
        : connection_(std::move(connection)) {}
    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    // Commits the pending batch, finalizes an unfinished query and closes the connection. The
    // record is spent afterwards whatever the result.
    bool Close();

    bool Update(TextView sql);
    bool UpdateSync(TextView sql);
    bool Flush();
    void SetCompressionLevel(int32_t level) noexcept { compressionLevel_ = level; }
    int32_t compressionLevel() const noexcept { return compressionLevel_; }
    bool transactionOpen() const noexcept { return transactionOpen_; }

    // Commits the pending batch, then prepares the query.
    bool Query(TextView sql);
    SQLiteQuery& query() noexcept { return query_; }
    SQLiteConnection& connection() noexcept { return *connection_; }

  private:
    // Runs SQL text; on failure its SQLite message becomes the error text.
    bool Execute(TextView sql);
    // Commits the pending batch, if any. Nullopt on success (or with nothing pending), else
    // SQLite's message; the batch stays pending when the connection is still inside it.
    std::optional<std::string> CommitPending();
    // Clears the pending flag when the connection has left the transaction by itself.
    void FollowConnection() noexcept;

    std::unique_ptr<SQLiteConnection> connection_;
    bool transactionOpen_ = false;
    SQLiteQuery query_;
    int32_t compressionLevel_ = 9;
};

}  // namespace orvex
