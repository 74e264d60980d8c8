#include "sqlite/sqlite_last_error.hpp"

#include <mutex>

namespace orvex {
namespace {

// Guards LayerText(): every thread that calls into the storage layer replaces the text.
std::mutex& LayerLock() {
    static std::mutex lock;
    return lock;
}

// The layer-wide text; starts empty. Guarded by LayerLock().
Text& LayerText() {
    static Text text;
    return text;
}

void Replace(Text text) {
    std::scoped_lock guard(LayerLock());
    LayerText().swap(text);
}

}  // namespace

void SetSQLiteError(std::string_view ascii) {
    Replace(FromAscii(ascii));
}

void SetSQLiteError(std::string_view prefix, TextView text, std::string_view suffix) {
    Text message = FromAscii(prefix);
    message.append(text);
    message.append(FromAscii(suffix));
    Replace(std::move(message));
}

void SetSQLiteErrorFromUtf8(std::string_view utf8) {
    Replace(FromUtf8(utf8));
}

Text SQLiteErrorText() {
    std::scoped_lock guard(LayerLock());
    return LayerText();
}

}  // namespace orvex
