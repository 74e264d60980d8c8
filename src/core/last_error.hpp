// The last-error text of an instance (master, slave).
//
// Null until the first failure; each failure replaces the stored copy (releasing the
// previous one) and success never clears it. The pointer that Get returns stays readable
// until the next failure on the same instance.
#pragma once

#include <memory>
#include <mutex>

#include "core/text.hpp"

namespace orvex {

class LastError {
public:
    LastError() = default;
    LastError(const LastError&) = delete;
    LastError& operator=(const LastError&) = delete;

    // Stores "<function>(): <reason>" and returns a copy of it (the stored text itself may be
    // replaced by another thread's failure at any moment).
    Text Set(std::string_view function, std::string_view reason);
    // Stores the text as given.
    void SetText(TextView text);
    // The stored text (instance-owned) or null.
    const Char* Get() const;

private:
    // Guards text_: failures may be reported from any thread of the instance.
    mutable std::mutex lock_;
    std::unique_ptr<Text> text_;
};

}  // namespace orvex
