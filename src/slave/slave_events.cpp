#include "slave/slave_events.hpp"

namespace orvex {

SlaveEvents::SlaveEvents(OrvexSlave* handle) : handle_(handle) {}

SlaveEvents::~SlaveEvents() {
    Stop();
}

void SlaveEvents::Start() {
    callbackThread_ = std::thread([this] { CallbackLoop(); });
}

void SlaveEvents::Stop() {
    if (!callbackThread_.joinable()) return;
    stopping_.store(true);
    hold_.store(false);
    wake_.Signal();
    callbackThread_.join();
}

void SlaveEvents::SetCallback(OrvexSlaveEventCallback callback, intptr_t userData) {
    std::scoped_lock guard(lock_);
    callback_ = callback;
    userData_ = userData;
}

void SlaveEvents::Produce(int32_t type, int32_t master, TextView text) {
    if (!enabled_.load()) return;
    Event event{type, master, text.empty() ? std::nullopt : std::optional<Text>(Text(text))};
    std::scoped_lock guard(lock_);
    if (callback_ != nullptr) {
        callbacks_.Append({callback_, userData_, std::move(event)});
        queuedCallbacks_.fetch_add(1);
    } else {
        queue_.Append(std::move(event));
    }
}

bool SlaveEvents::Next() {
    Event event;
    {
        std::scoped_lock guard(lock_);
        if (queue_.IsEmpty()) return false;
        event = queue_.Take();
    }
    currentType_ = event.type;
    currentMaster_ = event.master;
    currentText_ = std::move(event.text);
    return true;
}

bool SlaveEvents::TakeCallback(CallbackItem& item) {
    std::scoped_lock guard(lock_);
    if (callbacks_.IsEmpty()) return false;
    item = callbacks_.Take();
    queuedCallbacks_.fetch_sub(1);
    return true;
}

void SlaveEvents::CallbackLoop() {
    static const Char kEmpty[1] = {0};
    for (;;) {
        if (stopping_.load()) return;
        wake_.Wait();
        CallbackItem item{};
        while (!stopping_.load() && TakeCallback(item)) {
            const Char* text = item.event.text ? item.event.text->c_str() : kEmpty;
            item.callback(handle_, item.event.master, text, item.event.type, item.userData);
            item = CallbackItem{};
            if (stopping_.load()) return;
            if (hold_.load()) {
                waitsForRelease_.store(true);
                if (hold_.load()) wake_.Wait();
                waitsForRelease_.store(false);
            }
        }
    }
}

}  // namespace orvex
