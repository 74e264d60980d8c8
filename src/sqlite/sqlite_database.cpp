#include "sqlite/sqlite_database.hpp"

#include <filesystem>
#include <fstream>

#include "sqlite/sqlite_last_error.hpp"

namespace orvex {
namespace {

// Read-write without create: a file that does not exist is not made by the open.
constexpr int kOpenFlags = SQLITE_OPEN_READWRITE;

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Replaces the file with an empty one. (SQLite itself discards a journal or write-ahead file
// left beside a database file of zero pages, so old pages cannot come back into it.)
bool CreateEmptyFile(const std::string& utf8Name) {
    if (utf8Name.empty()) return false;
    std::ofstream file(PathOf(utf8Name), std::ios::binary | std::ios::trunc);
    return file.is_open();
}

std::unique_ptr<SQLiteDatabase> OpenConnection(TextView fileName, const std::string& utf8Name) {
    // An empty name would give SQLite's private temporary database, not a file.
    auto connection = utf8Name.empty()
                          ? nullptr
                          : SQLiteConnection::Open(utf8Name, kOpenFlags, kSQLiteBusyTimeoutMs);
    if (connection == nullptr) {
        SetSQLiteError("can not open database '", fileName, "'");
        return nullptr;
    }
    auto database = std::make_unique<SQLiteDatabase>(std::move(connection));
    ClearSQLiteError();
    return database;
}

}  // namespace

std::unique_ptr<SQLiteDatabase> SQLiteDatabase::Create(TextView fileName) {
    const std::string utf8Name = ToUtf8(fileName);
    if (!CreateEmptyFile(utf8Name)) {
        SetSQLiteError("can not create file '", fileName, "'");
        return nullptr;
    }
    return OpenConnection(fileName, utf8Name);
}

std::unique_ptr<SQLiteDatabase> SQLiteDatabase::Open(TextView fileName) {
    return OpenConnection(fileName, ToUtf8(fileName));
}

bool SQLiteDatabase::Close() {
    // The statement goes first: an unfinished statement would keep SQLite from closing the
    // connection (and could keep the COMMIT from going through).
    query_.Discard();
    const std::optional<std::string> commitError = CommitPending();
    transactionOpen_ = false;
    if (connection_->Close() != SQLITE_OK) {
        SetSQLiteError("closing database failed");
        return false;
    }
    if (commitError) {
        // Closing rolled the batch back: its writes are lost, which is not a success.
        SetSQLiteErrorFromUtf8(*commitError);
        return false;
    }
    ClearSQLiteError();
    return true;
}

bool SQLiteDatabase::Update(TextView sql) {
    if (!transactionOpen_) {
        connection_->Exec("BEGIN Transaction");
        transactionOpen_ = true;
    }
    const bool executed = Execute(sql);
    FollowConnection();
    return executed;
}

bool SQLiteDatabase::UpdateSync(TextView sql) {
    if (const auto commitError = CommitPending()) {
        // Run now, the statement would land in the batch that could not be committed.
        SetSQLiteErrorFromUtf8(*commitError);
        return false;
    }
    return Execute(sql);
}

bool SQLiteDatabase::Flush() {
    if (!transactionOpen_) return false;
    if (const auto commitError = CommitPending()) {
        SetSQLiteErrorFromUtf8(*commitError);
        return false;
    }
    ClearSQLiteError();
    return true;
}

bool SQLiteDatabase::Query(TextView sql) {
    // Commit first, also for a query that is refused below. A failed commit keeps the batch
    // pending for the next Flush, UpdateSync or Close; the query itself still runs.
    CommitPending();
    return query_.Prepare(connection_->Raw(), sql);
}

bool SQLiteDatabase::Execute(TextView sql) {
    if (const auto error = connection_->Exec(ToUtf8(sql))) {
        SetSQLiteErrorFromUtf8(*error);
        return false;
    }
    ClearSQLiteError();
    return true;
}

std::optional<std::string> SQLiteDatabase::CommitPending() {
    if (!transactionOpen_) return std::nullopt;
    std::optional<std::string> error = connection_->Exec("COMMIT");
    if (!error || !connection_->InTransaction()) transactionOpen_ = false;
    return error;
}

void SQLiteDatabase::FollowConnection() noexcept {
    if (transactionOpen_ && !connection_->InTransaction()) transactionOpen_ = false;
}

}  // namespace orvex
