#include "core/last_error.hpp"

namespace orvex {

Text LastError::Set(std::string_view function, std::string_view reason) {
    std::string message;
    message.reserve(function.size() + reason.size() + 4);
    message.append(function).append("(): ").append(reason);
    Text text = FromAscii(message);
    SetText(text);
    return text;
}

void LastError::SetText(TextView text) {
    auto copy = std::make_unique<Text>(text);
    std::scoped_lock guard(lock_);
    text_ = std::move(copy);
}

const Char* LastError::Get() const {
    std::scoped_lock guard(lock_);
    return text_ ? text_->c_str() : nullptr;
}

}  // namespace orvex
