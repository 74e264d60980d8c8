// IdMap: a 100-way digit tree from a non-negative key to a value (a 32-bit number or a
// pointer), zero meaning absent.
//
// A key is taken apart into base-100 digits, lowest first: key 12345 lives in entry 1 of the
// node reached from the root by entry 45, then entry 23. Nothing is ever removed; a value is
// cleared by storing 0. No lock of its own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace orvex {

template <typename V = int32_t>
class IdMap {
public:
    IdMap() : root_(std::make_unique<Node>()) {}
    IdMap(const IdMap&) = delete;
    IdMap& operator=(const IdMap&) = delete;

    // Zero for an absent or negative key.
    V Lookup(int32_t key) const {
        if (key < 0) return V{};
        const Node* node = root_.get();
        for (;;) {
            const int32_t digit = key % 100;
            key /= 100;
            if (key == 0) return node->entries[digit].value;
            node = node->entries[digit].child.get();
            if (node == nullptr) return V{};
        }
    }

    // Negative keys are ignored.
    void Store(int32_t key, V value) {
        if (key < 0) return;
        Node* node = root_.get();
        for (;;) {
            const int32_t digit = key % 100;
            key /= 100;
            if (key == 0) {
                node->entries[digit].value = value;
                return;
            }
            auto& child = node->entries[digit].child;
            if (!child) child = std::make_unique<Node>();
            node = child.get();
        }
    }

private:
    struct Node;
    struct Entry {
        std::unique_ptr<Node> child;
        V value{};
    };
    struct Node {
        std::array<Entry, 100> entries;
    };
    std::unique_ptr<Node> root_;
};

}  // namespace orvex
