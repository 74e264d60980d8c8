// The master's receive dispatch: what each slave-to-master message does.
//
// Every body goes through a parser that checks its length first; a body shorter than the
// words its command reads is ignored, never read past its end.
#include <cstring>

#include "core/memory.hpp"
#include "master/master.hpp"
#include "protocol/messages.hpp"

namespace orvex {

namespace proto = protocol;

void Master::Dispatch(int32_t slave, std::span<uint8_t> body) {
    SlaveSlot* slot = SlotAt(slave);
    const auto command = proto::ReadCommand(body);
    if (slot == nullptr || !command) return;
    switch (*command) {
        case proto::kTypeJobList:
        case proto::kTypeJobCount:
        case proto::kTypeWorkerCount:
        case proto::kTypePingEcho:
            StoreReply(*slot, body, *command);
            return;
        case proto::kTypeStatus:
            HandleStatus(*slot, slave, body);
            return;
        case proto::kTypeStreamAck:
            if (proto::IsGoodbye(body)) {
                RemoveSlave(slave);
                queues_.Route({slave, 0, kEventGoodbye, nullptr, 0});
            } else {
                HandleStreamAck(*slot, body);
            }
            return;
        case proto::kCmdStreamJobRequest:
            HandleRelayStart(*slot, slave, body);
            return;
        case proto::kCmdStreamBlock:
            HandleRelayBlock(*slot, body);
            return;
        case proto::kCmdStreamEnd:
            HandleRelayEnd(*slot, body);
            return;
        default:
            queues_.Route({slave, 0, kEventUnknownMessage, nullptr, 0});
            return;
    }
}

void Master::StoreReply(SlaveSlot& slot, std::span<const uint8_t> body, int32_t command) {
    std::optional<Text> jobList;
    std::optional<int32_t> value;
    switch (command) {
        case proto::kTypeJobList:
            jobList = proto::ParseJobList(body);
            break;
        case proto::kTypeJobCount:
            value = proto::ParseJobCount(body);
            break;
        case proto::kTypeWorkerCount:
            value = proto::ParseWorkerCount(body);
            break;
        default:
            value = proto::ParsePingEcho(body);
            break;
    }
    if (!jobList && !value) return;
    std::scoped_lock guard(slot.replyLock);
    if (jobList) slot.jobInfosText = std::move(*jobList);
    if (command == proto::kTypeJobCount) slot.jobCountReply = *value;
    if (command == proto::kTypeWorkerCount) slot.workerCountReply = *value;
    if (command == proto::kTypePingEcho) slot.pingEcho = *value;
    if (slot.queryWaiting) slot.replySignal.Signal();
}

void Master::WakeQuery(SlaveSlot& slot) {
    std::scoped_lock guard(slot.replyLock);
    if (slot.queryWaiting) {
        slot.queryFailed = true;
        slot.replySignal.Signal();
    }
}

void Master::FailPendingAck(SlaveSlot& slot) {
    if (!streamSending_.load()) return;
    ackOk_ = 0;
    ackRefused_ = 0;
    slot.ackSignal.Signal();
}

void Master::HandleStreamAck(SlaveSlot& slot, std::span<const uint8_t> body) {
    const auto ack = proto::ParseStreamAck(body);
    if (!ack) return;
    ackOk_ = ack->ok;
    ackRefused_ = ack->cancel;
    slot.ackSignal.Signal();
}

void Master::HandleStatus(SlaveSlot& slot, int32_t slave, std::span<const uint8_t> body) {
    const auto notice = proto::ParseStatusNotice(body);
    if (!notice) return;
    const int32_t code = notice->code;
    if (code < kFirstSlaveEvent) {
        HandleJobEvent(slave, code, notice->jobId, body);
        return;
    }
    // The slave removed this master: the slot is gone before the application hears of it.
    if (code == proto::kStatusRemoved) RemoveSlave(slave);
    queues_.Route({slave, notice->jobId, code, nullptr, 0});
    if (code == proto::kStatusReceiveFailed) {
        // The slave lost a message of ours: a query that waits gets no reply, and a stream
        // block that waits counts as failed.
        WakeQuery(slot);
        FailPendingAck(slot);
    }
}

void Master::HandleJobEvent(int32_t slave, int32_t code, int32_t jobId,
                            std::span<const uint8_t> body) {
    MasterEvent event{slave, jobId, code, nullptr, 0};
    if (code == proto::kStatusResult || code == proto::kStatusMessage) {
        const auto payload = proto::ParseJobPayload(body);
        if (!payload) return;  // its size runs past the body
        if (!payload->data.empty()) {
            event.memory = AllocateBlock(static_cast<int64_t>(payload->data.size()));
            if (event.memory != nullptr) {
                std::memcpy(event.memory, payload->data.data(), payload->data.size());
                event.memorySize = static_cast<int32_t>(payload->data.size());
            }
        }
    }
    const auto job = jobTable_.Find(jobId, code == proto::kStatusResult);
    if (!job) {
        FreeBlock(event.memory);
        queues_.Route({slave, jobId, kEventUnknownJob, nullptr, 0});
    } else if (job->callback != nullptr) {
        queues_.AppendCallback({job->callback, event, job->userData});
    } else {
        queues_.Route(event);
    }
}

}  // namespace orvex
