#include "master/job_table.hpp"

#include <limits>
#include <new>

namespace orvex {

JobTable::JobTable(int32_t blockSize) : blockSize_(blockSize > 0 ? blockSize : 256) {
    slots_.resize(static_cast<size_t>(blockSize_));
}

int32_t JobTable::Insert(const PendingJob& job) {
    std::scoped_lock guard(lock_);
    if (lastId_ == std::numeric_limits<int32_t>::max()) return 0;
    const int32_t id = lastId_ + 1;
    try {
        while (static_cast<size_t>(id) >= slots_.size()) {
            slots_.resize(slots_.size() + static_cast<size_t>(blockSize_));
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    lastId_ = id;
    Slot& slot = slots_[static_cast<size_t>(id)];
    if (!slot.inUse) ++usedIds_;
    slot.inUse = true;
    slot.job = job;
    return id;
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
