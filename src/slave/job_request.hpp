// JobRequest: an accepted job waiting in the job pool, and the job-pool kind of a priority.
#pragma once

#include <cstdint>
#include <memory>

#include "Orvex.h"
#include "core/text.hpp"
#include "params/parameter_list.hpp"
#include "slave/job_registry.hpp"
#include "slave/master_link.hpp"
#include "slave/master_table.hpp"
#include "slave/stream_table.hpp"
#include "slave/task_pool.hpp"

namespace orvex {

struct JobRequest {
    // The connection the request came on: every message about the job goes there, and the
    // job is dropped unrun when that connection has closed (even if a new connection has
    // taken the master's slot over meanwhile).
    std::shared_ptr<MasterLink> link;
    MasterEntry* entry = nullptr;
    int32_t master = 0;
    JobEntry job;
    int32_t jobId = 0;
    Text name;                                  // as the master sent it
    OrvexJobAccessCheck accessCheck = nullptr;  // the master's check at acceptance
    StreamRecord* stream = nullptr;             // stream jobs only
    ParameterListPtr parameters;                // null when the request carried none
};

// The job-pool kind of a master's priority word: 0, 1 and 2 select a queue (2 first), 3 is
// urgent and 4 urgent with raised thread priority. Values below 0 are taken as 0 and values
// above 4 as 2, so a stray value neither indexes past the queues nor jumps the queue.
inline int32_t PriorityKind(int32_t priority) {
    if (priority < kTaskLow) return kTaskLow;
    if (priority > kTaskUrgentRaised) return kTaskHigh;
    return priority;
}

}  // namespace orvex
