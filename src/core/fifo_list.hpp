// FIFO list: items pass in arrival order; prepend puts one ahead of all others.
//
// The list holds values (usually pointers) and never owns what they point to. It has no lock:
// each owner guards its list with a mutex of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>

namespace orvex {

template <typename T>
class FifoList {
public:
    void Append(T item) { items_.push_back(std::move(item)); }
    void Prepend(T item) { items_.push_front(std::move(item)); }

    // Removes and returns the oldest item; a value-initialised T when the list is empty.
    T Take() {
        if (items_.empty()) return T{};
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    bool IsEmpty() const { return items_.empty(); }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }

    // Oldest item without removing it; the list must not be empty.
    T& Front() { return items_.front(); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }

private:
    std::deque<T> items_;
};

}  // namespace orvex
