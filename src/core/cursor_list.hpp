// Cursor list: a doubly linked list with a current position.
//
// The cursor rules matter to its users (the cache walks and evicts through it):
//   - Insert puts a new node (item empty) right after the current node and makes it current;
//     with no current node in a non-empty list it goes after the first node, in second place.
//   - Next from no current node goes to the first node; Previous to the last. At the ends
//     they return false and the cursor stays.
//   - Remove makes the removed node's previous node current (none when it was first), so a
//     loop of Reset, then Next until false, removing where needed, visits every node once.
// No lock of its own: the owner guards the list, including the cursor, with its mutex.
#pragma once

#include <cstdint>
#include <iterator>
#include <list>
#include <utility>

namespace orvex {

template <typename T>
class CursorList {
public:
    // A node handle, valid until that node is removed.
    using Node = typename std::list<T>::iterator;

    CursorList() : current_(items_.end()) {}
    CursorList(const CursorList&) = delete;
    CursorList& operator=(const CursorList&) = delete;

    void Insert() {
        if (!HasCurrent() && !items_.empty()) current_ = items_.begin();
        const auto position = HasCurrent() ? std::next(current_) : items_.end();
        current_ = items_.emplace(position);
    }

    // Stores item in the current node; nothing happens without a current node.
    void SetItem(T item) {
        if (HasCurrent()) *current_ = std::move(item);
    }

    // The current node's item; a value-initialised T without a current node.
    T Item() const { return HasCurrent() ? *current_ : T{}; }

    bool HasCurrent() const { return current_ != items_.end(); }
    Node GetNode() const { return current_; }
    void SetNode(Node node) { current_ = node; }

    bool Next() {
        if (!HasCurrent()) {
            if (items_.empty()) return false;
            current_ = items_.begin();
            return true;
        }
        const auto following = std::next(current_);
        if (following == items_.end()) return false;
        current_ = following;
        return true;
    }

    bool Previous() {
        if (!HasCurrent()) {
            if (items_.empty()) return false;
            current_ = std::prev(items_.end());
            return true;
        }
        if (current_ == items_.begin()) return false;
        --current_;
        return true;
    }

    void Reset() { current_ = items_.end(); }

    bool Remove() {
        if (!HasCurrent()) return false;
        const auto previous = current_ == items_.begin() ? items_.end() : std::prev(current_);
        items_.erase(current_);
        current_ = previous;
        return true;
    }

    void SwapWithNext() {
        if (!HasCurrent()) return;
        const auto following = std::next(current_);
        if (following != items_.end()) std::swap(*current_, *following);
    }

    int32_t Count() const { return static_cast<int32_t>(items_.size()); }

    // Plain traversal that leaves the cursor alone.
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }

private:
    std::list<T> items_;
    Node current_;
};

}  // namespace orvex
