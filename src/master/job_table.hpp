// JobTable: job id -> PendingJob for the jobs a master has dispatched and not yet seen finish.
//
// Ids are issued upward from 1 (lastId + 1). Releasing the job with the highest id lets that id
// be issued again to the next job; once no job is pending, numbering starts again at 1. Ids
// below lastId that were released are not reused until the table is empty, or until the next
// id would need a larger table: then a free id below is issued instead (see Insert). The slots
// grow by whole blocks (blockSize slots each) and never shrink.
//
// Every operation takes the table's own mutex: DoJob inserts (and releases on failure) in
// application threads while the thread that dispatches a slave's messages looks jobs up and
// releases them.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "master/master_types.hpp"

namespace orvex {

struct PendingJob {
    MasterCallback callback = nullptr;  // receives this job's events; null = route them
    intptr_t userData = 0;
};

class JobTable {
  public:
    explicit JobTable(int32_t blockSize = 256);
    JobTable(const JobTable&) = delete;
    JobTable& operator=(const JobTable&) = delete;

    // Stores the job under a new id and returns the id (>= 1); 0 when the id space is used
    // up or memory runs out.
    int32_t Insert(const PendingJob& job);

    // The job stored under id, if any; with release true the id is released in the same step
    // (the final result of a job).
    std::optional<PendingJob> Find(int32_t id, bool release);

    // Releases id; nothing happens when it is not in use.
    void Release(int32_t id);

    bool Contains(int32_t id);
    int32_t Capacity();
    int32_t UsedIds();

  private:
    struct Slot {
        bool inUse = false;
        PendingJob job;
    };

    void ReleaseLocked(int32_t id);
    int32_t FreeIdLocked();

    std::mutex lock_;  // guards every field below
    int32_t lastId_ = 0;
    int32_t usedIds_ = 0;
    size_t reuseFrom_ = 1;  // where the search for a free id to reuse starts
    const int32_t blockSize_;
    std::vector<Slot> slots_;  // capacity = blockSize_ x blocks allocated
};

}  // namespace orvex
