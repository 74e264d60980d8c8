// C edge of the SQLite storage layer: the Orvex_SQLite_* exports.
//
// Each export (but GetLastErrorString, GetSQLiteVersion and SetCompressionLevel) first sets the
// layer's last-error text to "failed"; the C++ layer replaces it with the empty text on success
// or with a more specific text. No exception leaves an export: one that escapes the layer
// (memory exhausted) leaves "failed" and the call's failure result. A null text argument is
// taken as the empty text.
#include "Orvex.h"
#include "core/memory.hpp"
#include "core/result_buffer.hpp"
#include "core/text.hpp"
#include "sqlite/sqlite_database.hpp"
#include "sqlite/sqlite_last_error.hpp"

using namespace orvex;

namespace {

SQLiteDatabase* DatabaseOf(OrvexSQLite* handle) noexcept {
    return reinterpret_cast<SQLiteDatabase*>(handle);
}

OrvexSQLite* HandleOf(std::unique_ptr<SQLiteDatabase> database) noexcept {
    return reinterpret_cast<OrvexSQLite*>(database.release());
}

int32_t Truth(bool value) noexcept {
    return value ? 1 : 0;
}

// Runs `body` after setting "failed"; `onFailure` when the handle is null or `body` throws.
template <typename Result, typename Body>
Result Guarded(OrvexSQLite* handle, Result onFailure, Body&& body) noexcept {
    try {
        SetSQLiteFailed();
        if (handle == nullptr) return onFailure;
        return body(*DatabaseOf(handle));
    } catch (...) {
        return onFailure;
    }
}

// A caller-owned copy of `text`; null only when memory is exhausted.
OrvexChar* CallerText(const Text& text) noexcept {
    return CopyToBlock(text);
}

// Text getters hand back an allocated (possibly empty) text even when they fail.
template <typename Body>
OrvexChar* GuardedText(OrvexSQLite* handle, Body&& body) noexcept {
    try {
        SetSQLiteFailed();
        if (handle == nullptr) return CallerText(Text());
        return CallerText(body(DatabaseOf(handle)->query()));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

extern "C" {

ORVEX_API OrvexSQLite* ORVEX_CALL Orvex_SQLite_Create(const OrvexChar* fileName) {
    try {
        SetSQLiteFailed();
        return HandleOf(SQLiteDatabase::Create(ViewOf(fileName)));
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API OrvexSQLite* ORVEX_CALL Orvex_SQLite_Open(const OrvexChar* fileName) {
    try {
        SetSQLiteFailed();
        return HandleOf(SQLiteDatabase::Open(ViewOf(fileName)));
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Close(OrvexSQLite* handle) {
    // The record is freed whatever happens inside.
    std::unique_ptr<SQLiteDatabase> database(DatabaseOf(handle));
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return Truth(db.Close()); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Update(OrvexSQLite* handle, const OrvexChar* sql) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return Truth(db.Update(ViewOf(sql))); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_UpdateSync(OrvexSQLite* handle, const OrvexChar* sql) {
    return Guarded(handle, 0,
                   [&](SQLiteDatabase& db) { return Truth(db.UpdateSync(ViewOf(sql))); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Flush(OrvexSQLite* handle) {
    return Guarded(handle, 0, [](SQLiteDatabase& db) { return Truth(db.Flush()); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_SetCompressionLevel(OrvexSQLite* handle, int32_t level) {
    try {
        if (handle != nullptr) DatabaseOf(handle)->SetCompressionLevel(level);
        ClearSQLiteError();
    } catch (...) {
    }
    return 1;
}

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_SQLite_GetLastErrorString(void) {
    try {
        return SetResultBuffer(SQLiteErrorText());
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetSQLiteVersion(void) {
    try {
        const char* version = sqlite3_libversion();
        const bool known = version != nullptr && version[0] != '\0';
        return CallerText(known ? FromUtf8(version) : FromAscii("unknown"));
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Query(OrvexSQLite* handle, const OrvexChar* sql) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return Truth(db.Query(ViewOf(sql))); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_EndQuery(OrvexSQLite* handle) {
    return Guarded(handle, 0, [](SQLiteDatabase& db) { return Truth(db.query().End()); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_SelectRow(OrvexSQLite* handle, int32_t row) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return Truth(db.query().SelectRow(row)); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreRow(OrvexSQLite* handle) {
    return Guarded(handle, 0, [](SQLiteDatabase& db) { return Truth(db.query().StoreRow()); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetNumColumns(OrvexSQLite* handle) {
    return Guarded(handle, 0, [](SQLiteDatabase& db) { return db.query().GetNumColumns(); });
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetColumnName(OrvexSQLite* handle, int32_t column) {
    return GuardedText(handle, [&](SQLiteQuery& query) { return query.GetColumnName(column); });
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetColumnTypeAsString(OrvexSQLite* handle,
                                                                   int32_t column) {
    return GuardedText(handle,
                       [&](SQLiteQuery& query) { return query.GetColumnTypeAsString(column); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsLong(OrvexSQLite* handle, int32_t column,
                                                      int32_t value) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) {
        return Truth(db.query().StoreAsLong(column, value));
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsQuad(OrvexSQLite* handle, int32_t column,
                                                      int64_t value) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) {
        return Truth(db.query().StoreAsQuad(column, value));
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsDouble(OrvexSQLite* handle, int32_t column,
                                                        double value) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) {
        return Truth(db.query().StoreAsDouble(column, value));
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsString(OrvexSQLite* handle, int32_t column,
                                                        const OrvexChar* value) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) {
        return Truth(db.query().StoreAsString(column, ViewOf(value)));
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsBlob(OrvexSQLite* handle, int32_t column,
                                                      const void* data, int32_t size,
                                                      int32_t flags) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) {
        return Truth(db.query().StoreAsBlob(column, data, size, flags, db.compressionLevel()));
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsLong(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return db.query().GetAsLong(column); });
}

ORVEX_API int64_t ORVEX_CALL Orvex_SQLite_GetAsQuad(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, int64_t{0},
                   [&](SQLiteDatabase& db) { return db.query().GetAsQuad(column); });
}

ORVEX_API double ORVEX_CALL Orvex_SQLite_GetAsDouble(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, 0.0, [&](SQLiteDatabase& db) { return db.query().GetAsDouble(column); });
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetAsString(OrvexSQLite* handle, int32_t column) {
    return GuardedText(handle, [&](SQLiteQuery& query) { return query.GetAsString(column); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsBlobFlags(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, 0,
                   [&](SQLiteDatabase& db) { return db.query().GetAsBlobFlags(column); });
}

ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsBlobSize(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, 0, [&](SQLiteDatabase& db) { return db.query().GetAsBlobSize(column); });
}

ORVEX_API void* ORVEX_CALL Orvex_SQLite_GetAsBlobPointer(OrvexSQLite* handle, int32_t column) {
    return Guarded(handle, static_cast<void*>(nullptr), [&](SQLiteDatabase& db) {
        return db.query().GetAsBlobPointer(column).release();
    });
}

}  // extern "C"
