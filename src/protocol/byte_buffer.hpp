// A growable byte buffer that does not zero what it gains (receive paths fill it at once).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace orvex::protocol {

class ByteBuffer {
public:
    uint8_t* data() { return data_.get(); }
    size_t capacity() const { return capacity_; }

    // Makes room for at least `size` bytes, keeping the contents; false when memory runs out
    // (the buffer is then unchanged). Grows at least geometrically.
    bool Reserve(size_t size) {
        if (size <= capacity_) return true;
        size_t grown = capacity_ + capacity_ / 2;
        if (grown < size) grown = size;
        void* moved = std::realloc(data_.get(), grown);
        if (moved == nullptr) return false;
        (void)data_.release();
        data_.reset(static_cast<uint8_t*>(moved));
        capacity_ = grown;
        return true;
    }

    void Release() {
        data_.reset();
        capacity_ = 0;
    }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t capacity_ = 0;
};

}  // namespace orvex::protocol
