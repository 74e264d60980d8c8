// The storage layer's last-error text: one text for every database handle and every thread.
//
// Each Orvex_SQLite_* call (but GetLastErrorString, GetSQLiteVersion and SetCompressionLevel)
// first sets it to "failed", a success sets it to the empty text, and a failure leaves
// "failed" or puts its own text in place. Calls from several threads overwrite each other's
// text; a caller reads it right after the call it wants to examine.
#pragma once

#include <string_view>

#include "core/text.hpp"

namespace orvex {

// Replaces the text (7-bit ASCII literals: "failed", "incorrect size", ...).
void SetSQLiteError(std::string_view ascii);
// Replaces the text with the concatenation of an ASCII prefix, a text and an ASCII suffix
// (file names in "can not open database '<name>'").
void SetSQLiteError(std::string_view prefix, TextView text, std::string_view suffix);
// Replaces the text with a message that SQLite gave in UTF-8.
void SetSQLiteErrorFromUtf8(std::string_view utf8);
inline void SetSQLiteFailed() {
    SetSQLiteError("failed");
}
inline void ClearSQLiteError() {
    SetSQLiteError("");
}

// A copy of the current text.
Text SQLiteErrorText();

}  // namespace orvex
