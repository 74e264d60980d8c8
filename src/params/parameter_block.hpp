// Parameter block: the wire form of a ParameterList inside a job message.
//
//   offset 0   int32 count of values (0 for an empty list)
//   then, per value in list order: int32 size s, then the s bytes of the value
//
// All integers little-endian, no padding, no type tags, no total length: the message that
// carries the block delimits it, so the decoder is always told how many bytes it may read.
#pragma once

#include <cstdint>
#include <span>

#include "core/memory.hpp"
#include "params/parameter_list.hpp"

namespace orvex {

// Encodes every value of `list` (null encodes as an empty list) into one library memory
// block whose BlockSize is the encoded length. On success the list is left empty (its header
// still to be released by the caller); each element is released, and so is its value block
// when releaseValues is true. A value whose block is smaller than its size is padded with
// zeros; a negative size is written as it is, with no bytes (the decoder refuses it).
// Returns null when memory runs out or the block would exceed the largest block; the list
// is then left exactly as it was, and the caller releases it as on success.
BlockPtr<uint8_t> EncodeParameters(ParameterList* list, bool releaseValues) noexcept;

// Rebuilds a list from the first bytes of `bytes`. Null when the block is malformed: shorter
// than its count, a size or a value needs, a value size of 0 or less, or memory runs out
// (nothing decoded so far is kept). A count of 0 or less gives an empty list. Bytes after
// the last value are ignored.
ParameterListPtr DecodeParameters(std::span<const uint8_t> bytes) noexcept;

// As above for `length` bytes at `block`. With releaseBlock true the block (then a library
// memory block) is released after a successful decode; after a failure it is left alone.
ParameterListPtr DecodeParameters(void* block, int32_t length, bool releaseBlock) noexcept;

}  // namespace orvex
