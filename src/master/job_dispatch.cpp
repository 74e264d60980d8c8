// Orvex_Master_DoJob: one job request, and with a stream the transfer behind it.
#include <mutex>
#include <new>
#include <vector>

#include "core/memory.hpp"
#include "master/master.hpp"
#include "params/parameter_block.hpp"
#include "protocol/messages.hpp"

namespace orvex {

namespace {
constexpr const char* kDoJob = "Orvex_Master_DoJob";
}  // namespace

int32_t Master::DoJob(const JobOrder& order) {
    SlaveSlot* slot = SlotAt(order.slave);
    if (slot == nullptr) {
        SetError(kDoJob, "invalid slave number");
        return 0;  // the list stays the caller's
    }
    ParameterListPtr params(order.params);
    const bool withStream = order.streamData != nullptr;
    if (withStream && order.streamSize < 0) {
        SetError(kDoJob, "invalid stream size");
        return 0;
    }
    BlockPtr<uint8_t> block = EncodeParameters(params.get(), true);  // null list: empty block
    params.reset();
    const size_t paramsSize = block ? static_cast<size_t>(BlockSize(block.get())) : 0;
    const size_t size = block ? protocol::JobRequestSize(order.name, paramsSize) : 0;
    std::vector<uint8_t> body;
    try {
        if (size != 0) body.resize(size);
    } catch (const std::bad_alloc&) {
    }
    const int32_t jobId = body.empty() ? 0 : jobTable_.Insert({order.callback, order.userData});
    if (jobId == 0) {
        SetError(kDoJob, "memory allocation error");
        return 0;
    }

    protocol::JobRequestHead head;
    head.jobId = jobId;
    head.priority = order.priority;
    // A stream transfer holds streamLock_ from before its request leaves: acknowledgements
    // exist once per master, and another transfer's request must not be answered into ours.
    std::unique_lock streamGuard(streamLock_, std::defer_lock);
    if (withStream) {
        streamGuard.lock();
        streamSending_ = true;
        head.command = protocol::kCmdStreamJobRequest;
        head.target = order.target;
        head.streamSize = order.streamSize;
        while (slot->ackSignal.TryWait()) {
        }  // no acknowledgement left from an earlier transfer counts for this one
    }
    protocol::WriteJobRequest(body, head, order.name, {block.get(), paramsSize});
    block.reset();

    if (SendToSlave(*slot, body) == -1) {
        SetError(kDoJob, "error while sending data");
        jobTable_.Release(jobId);
        streamSending_ = false;
        return 0;
    }
    if (!withStream) return jobId;
    return SendStream(*slot, order.slave, jobId, order);
}

}  // namespace orvex
