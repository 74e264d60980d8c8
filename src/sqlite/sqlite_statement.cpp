#include "sqlite/sqlite_statement.hpp"

namespace orvex {
namespace {

int BindOne(sqlite3_stmt* statement, int index, const SQLiteValue& value) {
    if (const auto* integer = std::get_if<int64_t>(&value)) {
        return sqlite3_bind_int64(statement, index, *integer);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return sqlite3_bind_double(statement, index, *real);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8);
    }
    return sqlite3_bind_null(statement, index);
}

}  // namespace

int BindValues(sqlite3_stmt* statement, std::span<const SQLiteValue> values) {
    if (values.size() > static_cast<size_t>(sqlite3_bind_parameter_count(statement))) {
        return SQLITE_RANGE;
    }
    int index = 1;
    for (const SQLiteValue& value : values) {
        const int rc = BindOne(statement, index++, value);
        if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
}

}  // namespace orvex
