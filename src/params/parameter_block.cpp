#include "params/parameter_block.hpp"

#include <algorithm>
#include <cstring>

#include "params/value_bytes.hpp"

namespace orvex {
namespace {

constexpr int64_t kWordSize = 4;

// Bytes that a value occupies after its size word; a negative size carries none.
int64_t ValueLength(const ParameterElement* element) {
    return std::max<int64_t>(element->size, 0);
}

// Length of the encoded block, or -1 when it would not fit in one memory block.
int64_t EncodedLength(const ParameterList* list) {
    int64_t total = kWordSize;
    for (const ParameterNode* node = list ? list->head : nullptr; node; node = node->next) {
        total += kWordSize + ValueLength(node->item);
        if (total > kMaxBlockSize) return -1;
    }
    return total;
}

// Takes one value off the front of `rest` and appends it to the list.
bool DecodeValue(ParameterList& list, std::span<const uint8_t>& rest) {
    if (rest.size() < kWordSize) return false;
    const auto size = LoadLittle<int32_t>(rest.data());
    rest = rest.subspan(kWordSize);
    if (size <= 0 || static_cast<size_t>(size) > rest.size()) return false;
    void* value = AllocateBlock(size);
    if (value == nullptr) return false;
    std::memcpy(value, rest.data(), static_cast<size_t>(size));
    rest = rest.subspan(static_cast<size_t>(size));
    return AppendValue(list, value, size);
}

}  // namespace

BlockPtr<uint8_t> EncodeParameters(ParameterList* list, bool releaseValues) noexcept {
    // Measure first so that the block is allocated once and a failure leaves the list intact.
    const int64_t length = EncodedLength(list);
    if (length < 0) return nullptr;
    BlockPtr<uint8_t> block = MakeBlock<uint8_t>(length);
    if (!block) return nullptr;
    uint8_t* at = block.get();
    StoreLittle<int32_t>(at, list ? list->Count() : 0);
    at += kWordSize;
    while (list != nullptr && !list->IsEmpty()) {
        ParameterElement* element = list->Take();
        StoreLittle<int32_t>(at, element->size);
        at += kWordSize;
        const auto bytes = static_cast<int32_t>(ValueLength(element));
        CopyValueBytes(at, element->value, bytes);
        at += bytes;
        if (releaseValues) FreeBlock(element->value);
        FreeBlock(element);
    }
    return block;
}

ParameterListPtr DecodeParameters(std::span<const uint8_t> bytes) noexcept {
    if (bytes.size() < kWordSize) return nullptr;
    const auto count = LoadLittle<int32_t>(bytes.data());
    std::span<const uint8_t> rest = bytes.subspan(kWordSize);
    // Every value needs its size word and at least one byte: refuse an absurd count before
    // allocating anything.
    if (count > 0 && static_cast<uint64_t>(count) > rest.size() / (kWordSize + 1)) {
        return nullptr;
    }
    ParameterListPtr list(ParameterList::New());
    if (!list) return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        if (!DecodeValue(*list, rest)) return nullptr;
    }
    return list;
}

ParameterListPtr DecodeParameters(void* block, int32_t length, bool releaseBlock) noexcept {
    if (block == nullptr || length <= 0) return nullptr;
    ParameterListPtr list = DecodeParameters(
        std::span<const uint8_t>(static_cast<const uint8_t*>(block), static_cast<size_t>(length)));
    if (list && releaseBlock) FreeBlock(block);
    return list;
}

}  // namespace orvex
