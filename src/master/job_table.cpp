#include "master/job_table.hpp"

#include <limits>
#include <new>

namespace orvex {

JobTable::JobTable(int32_t blockSize) : blockSize_(blockSize > 0 ? blockSize : 256) {
    slots_.resize(static_cast<size_t>(blockSize_));
}

int32_t JobTable::Insert(const PendingJob& job) {
    std::scoped_lock guard(lock_);
    int32_t id = lastId_ == std::numeric_limits<int32_t>::max() ? 0 : lastId_ + 1;
    // Ids climb while there is room above the highest one. Once the table would have to grow
    // (or the ids run out) while ids below are free, a free one is issued again instead: a
    // job that never sees a final result (refused, or lost with its slave) keeps its id for
    // good, so the table may never empty, and a master that always has such a job would
    // otherwise grow its table by one slot per job without end.
    if (id == 0 || static_cast<size_t>(id) >= slots_.size()) {
        if (const int32_t free = FreeIdLocked(); free != 0) id = free;
    }
    if (id == 0) return 0;
    try {
        while (static_cast<size_t>(id) >= slots_.size()) {
            slots_.resize(slots_.size() + static_cast<size_t>(blockSize_));
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (id > lastId_) lastId_ = id;
    Slot& slot = slots_[static_cast<size_t>(id)];
    if (!slot.inUse) ++usedIds_;
    slot.inUse = true;
    slot.job = job;
    return id;
}

// A free id below the top, searched from just after the one issued this way last time (so a
// freed id is not issued again at once); 0 when every slot is in use.
int32_t JobTable::FreeIdLocked() {
    const size_t ids = slots_.size() - 1;  // slot 0 is never used
    if (static_cast<size_t>(usedIds_) >= ids) return 0;
    for (size_t step = 0; step < ids; ++step) {
        const size_t id = 1 + (reuseFrom_ - 1 + step) % ids;
        if (!slots_[id].inUse) {
            reuseFrom_ = id % ids + 1;
            return static_cast<int32_t>(id);
        }
    }
    return 0;
}

std::optional<PendingJob> JobTable::Find(int32_t id, bool release) {
    std::scoped_lock guard(lock_);
    if (id < 0 || static_cast<size_t>(id) >= slots_.size()) return std::nullopt;
    const Slot& slot = slots_[static_cast<size_t>(id)];
    if (!slot.inUse) return std::nullopt;
    const PendingJob job = slot.job;
    if (release) ReleaseLocked(id);
    return job;
}

void JobTable::Release(int32_t id) {
    std::scoped_lock guard(lock_);
    ReleaseLocked(id);
}

void JobTable::ReleaseLocked(int32_t id) {
    if (id < 0 || static_cast<size_t>(id) >= slots_.size()) return;
    Slot& slot = slots_[static_cast<size_t>(id)];
    if (!slot.inUse) return;
    slot = Slot{};
    --usedIds_;
    if (id == lastId_) --lastId_;
    if (usedIds_ == 0) lastId_ = 0;
}

bool JobTable::Contains(int32_t id) {
    std::scoped_lock guard(lock_);
    return id >= 0 && static_cast<size_t>(id) < slots_.size() &&
           slots_[static_cast<size_t>(id)].inUse;
}

int32_t JobTable::Capacity() {
    std::scoped_lock guard(lock_);
    return static_cast<int32_t>(slots_.size());
}

int32_t JobTable::UsedIds() {
    std::scoped_lock guard(lock_);
    return usedIds_;
}

}  // namespace orvex
