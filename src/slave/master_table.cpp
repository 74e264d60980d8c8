#include "slave/master_table.hpp"

#include <bit>

namespace orvex {
namespace {

// Chunk and position of a master number: chunk k holds 2^k .. 2^(k+1) - 1.
struct Place {
    int chunk;
    uint32_t offset;
};

Place PlaceOf(int32_t master) {
    const auto n = static_cast<uint32_t>(master);
    const int chunk = std::bit_width(n) - 1;
    return {chunk, n - (uint32_t{1} << chunk)};
}

}  // namespace

MasterEntry& MasterTable::At(int32_t master) const {
    const Place place = PlaceOf(master);
    return chunks_[static_cast<size_t>(place.chunk)][place.offset];
}

MasterEntry* MasterTable::Prepare() {
    const int32_t next = Slots() + 1;
    if (next <= 0) return nullptr;
    const Place place = PlaceOf(next);
    auto& chunk = chunks_[static_cast<size_t>(place.chunk)];
    // A chunk is created before the first number in it is published, so readers that see
    // that number also see the chunk.
    if (!chunk) chunk = std::make_unique<MasterEntry[]>(size_t{1} << place.chunk);
    return &chunk[place.offset];
}

}  // namespace orvex
