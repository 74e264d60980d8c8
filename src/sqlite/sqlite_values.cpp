// Typed values of the active query: binding them to parameters and reading them from the row.
#include <new>

#include "sqlite/sqlite_last_error.hpp"
#include "sqlite/sqlite_query.hpp"
#include "sqlite/stored_blob.hpp"

namespace orvex {

bool SQLiteQuery::BindSucceeded(int rc) {
    if (rc != SQLITE_OK) return false;
    ClearSQLiteError();
    return true;
}

bool SQLiteQuery::StoreAsLong(int32_t column, int32_t value) {
    if (!CheckBinding("Orvex_SQLite_StoreAsLong")) return false;
    return BindSucceeded(sqlite3_bind_int(statement_.get(), ParameterIndex(column), value));
}

bool SQLiteQuery::StoreAsQuad(int32_t column, int64_t value) {
    if (!CheckBinding("Orvex_SQLite_StoreAsQuad")) return false;
    return BindSucceeded(sqlite3_bind_int64(statement_.get(), ParameterIndex(column), value));
}

bool SQLiteQuery::StoreAsDouble(int32_t column, double value) {
    if (!CheckBinding("Orvex_SQLite_StoreAsDouble")) return false;
    return BindSucceeded(sqlite3_bind_double(statement_.get(), ParameterIndex(column), value));
}

bool SQLiteQuery::StoreAsString(int32_t column, TextView value) {
    if (!CheckBinding("Orvex_SQLite_StoreAsString")) return false;
    std::string utf8;
    try {
        utf8 = ToUtf8(value);
    } catch (const std::bad_alloc&) {
        SetSQLiteError("can not allocate memory");
        return false;
    }
    // SQLITE_TRANSIENT: SQLite keeps its own copy, which outlives this buffer.
    return BindSucceeded(sqlite3_bind_text64(statement_.get(), ParameterIndex(column), utf8.data(),
                                             utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool SQLiteQuery::StoreAsBlob(int32_t column, const void* data, int32_t size, int32_t flags,
                              int level) {
    if (!CheckBinding("Orvex_SQLite_StoreAsBlob")) return false;
    EncodedBlob blob = EncodeStoredBlob(data, size, flags, level);
    if (blob.bytes == nullptr) {
        SetSQLiteError(blob.error);
        return false;
    }
    // SQLite takes the buffer over and frees it with sqlite3_free, also when the bind fails,
    // so the stored blob is not copied once more.
    return BindSucceeded(sqlite3_bind_blob64(statement_.get(), ParameterIndex(column),
                                             blob.bytes.release(), blob.length, sqlite3_free));
}

int32_t SQLiteQuery::GetAsLong(int32_t column) {
    if (!CheckReadColumn(column)) return 0;
    ClearSQLiteError();
    return sqlite3_column_int(statement_.get(), column);
}

int64_t SQLiteQuery::GetAsQuad(int32_t column) {
    if (!CheckReadColumn(column)) return 0;
    ClearSQLiteError();
    return sqlite3_column_int64(statement_.get(), column);
}

double SQLiteQuery::GetAsDouble(int32_t column) {
    if (!CheckReadColumn(column)) return 0.0;
    ClearSQLiteError();
    return sqlite3_column_double(statement_.get(), column);
}

Text SQLiteQuery::GetAsString(int32_t column) {
    if (!CheckRead()) return Text();
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    if (text == nullptr) {
        SetSQLiteError("Null pointer");
        return Text();
    }
    const int length = sqlite3_column_bytes(statement_.get(), column);
    ClearSQLiteError();
    return FromUtf8(std::string_view(text, length));
}

bool SQLiteQuery::ReadBlobHeader(int32_t column, int32_t* flags, int32_t* dataSize) {
    // Only the query and its statement are checked here, not the row: off a row SQLite gives
    // no blob, which reads as "null pointer".
    if (!active_) {
        SetSQLiteError("Orvex_SQLite_Query was not called before");
        return false;
    }
    if (statement_ == nullptr) return false;
    const void* value = sqlite3_column_blob(statement_.get(), column);
    if (value == nullptr) {
        SetSQLiteError("null pointer");
        return false;
    }
    const auto header = ReadStoredBlobHeader(value, sqlite3_column_bytes(statement_.get(), column));
    if (!header) {
        SetSQLiteError("incorrect size");
        return false;
    }
    *flags = header->flags;
    *dataSize = header->dataSize;
    ClearSQLiteError();
    return true;
}

int32_t SQLiteQuery::GetAsBlobFlags(int32_t column) {
    int32_t flags = 0;
    int32_t dataSize = 0;
    return ReadBlobHeader(column, &flags, &dataSize) ? flags : 0;
}

int32_t SQLiteQuery::GetAsBlobSize(int32_t column) {
    int32_t flags = 0;
    int32_t dataSize = 0;
    return ReadBlobHeader(column, &flags, &dataSize) ? dataSize : 0;
}

BlockPtr<> SQLiteQuery::GetAsBlobPointer(int32_t column) {
    if (!CheckRead()) return nullptr;
    const void* value = sqlite3_column_blob(statement_.get(), column);
    if (value == nullptr) {
        SetSQLiteError("Null pointer");
        return nullptr;
    }
    // The value stays valid until the statement moves; it is decoded before that.
    DecodedBlob blob = DecodeStoredBlob(value, sqlite3_column_bytes(statement_.get(), column));
    if (blob.data == nullptr) {
        SetSQLiteError(blob.error);
        return nullptr;
    }
    ClearSQLiteError();
    return std::move(blob.data);
}

}  // namespace orvex
