#include "slave/stream_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>

namespace orvex {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Smaller buffers come from the ordinary allocator.
constexpr size_t kMappedFrom = 4 * kHugePage;

size_t RoundUp(size_t value, size_t step) {
    return (value + step - 1) / step * step;
}

size_t MappedLength(int32_t size) {
    return RoundUp(static_cast<size_t>(size), kHugePage);
}

}  // namespace

void* AllocateStreamBuffer(int32_t size) noexcept {
    if (size <= 0) return nullptr;
    if (!IsMappedStreamBuffer(size)) return std::calloc(1, static_cast<size_t>(size));
    // Map one huge page more than needed and trim both ends, so that the buffer starts on a
    // huge-page boundary. Fresh anonymous pages are zero.
    const size_t length = MappedLength(size);
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* const raw = static_cast<char*>(mapped);
    char* const start =
        reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(raw), kHugePage));
    if (start != raw) munmap(raw, static_cast<size_t>(start - raw));
    const size_t tail = static_cast<size_t>(raw + length + kHugePage - (start + length));
    if (tail != 0) munmap(start + length, tail);
#ifdef MADV_HUGEPAGE
    madvise(start, length, MADV_HUGEPAGE);  // only advice: without huge pages it still works
#endif
    return start;
}

bool IsMappedStreamBuffer(int32_t size) noexcept {
    return size > 0 && static_cast<size_t>(size) >= kMappedFrom;
}

bool PopulateStreamBuffer(void* at, size_t length) noexcept {
#ifdef MADV_POPULATE_WRITE
    return madvise(at, length, MADV_POPULATE_WRITE) == 0;
#else
    (void)at;
    (void)length;
    return false;
#endif
}

void FreeStreamBuffer(void* buffer, int32_t size) noexcept {
    if (buffer == nullptr) return;
    if (!IsMappedStreamBuffer(size)) {
        std::free(buffer);
    } else {
        munmap(buffer, MappedLength(size));
    }
}

}  // namespace orvex
