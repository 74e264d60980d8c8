// The slave's receive batch: what each message from a master does.
//
// Every body is checked against the fields its handler reads. A message too short for its
// fields counts as unrecognised (event 7, nothing sent), except a job request whose job id
// can be read: the master is told {2, 159, job id}, so that it does not wait for a job that
// will never run. Replies to the sender are queued without writing and leave together when
// the batch ends; messages relayed to other masters are written at once.
#include <algorithm>
#include <climits>
#include <cstring>

#include "core/crc32.hpp"
#include "params/parameter_block.hpp"
#include "protocol/messages.hpp"
#include "slave/job_request.hpp"
#include "slave/slave.hpp"

namespace orvex {

using protocol::ReadLe32;

class Slave::Batch final : public protocol::BatchOwner {
  public:
    Batch(Slave& slave, std::shared_ptr<MasterLink> link, MasterEntry& entry, int32_t master)
        : slave(slave), link(std::move(link)), entry(entry), master(master) {}

    void OnBatchStart(int32_t) override {
        slave.events_.Hold();
        slave.Statistics().BatchStarted();
    }
    void OnBatchEnd(int32_t) override {
        link->Flush();
        slave.events_.Release();
        slave.Statistics().BatchEnded();
    }
    void Dispatch(int32_t, std::span<uint8_t> body) override { slave.Dispatch(*this, body); }
    void OnReceiveError(int32_t) override { slave.ReceiveFailed(*this); }

    void Reply(std::span<const uint8_t> body) { link->Send(body, {}, true); }
    void Status(int32_t code, int32_t jobId) { Reply(protocol::BuildStatusNotice(code, jobId)); }
    void Ack(int32_t ok, int32_t cancel) { Reply(protocol::BuildStreamAck(0, ok, cancel)); }

    Slave& slave;
    const std::shared_ptr<MasterLink> link;
    MasterEntry& entry;
    const int32_t master;
};

void Slave::RunBatch(const std::shared_ptr<MasterLink>& link, int32_t master) {
    Batch batch(*this, link, masters_.At(master), master);
    protocol::RunReceiveBatch(link->Connection(), master, receiveBlockSize_.load(), batch);
}

void Slave::Dispatch(Batch& batch, std::span<uint8_t> body) {
    const int32_t m = batch.master;
    if (body.size() < 4) {
        Event(7, m);
        return;
    }
    switch (ReadLe32(body.data())) {
        case protocol::kCmdJobListQuery:
            batch.Reply(registry_.JobListReply());
            Event(3, m);
            break;
        case protocol::kCmdJobRequest:
        case protocol::kCmdStreamJobRequest:
            HandleJobRequest(batch, body);
            break;
        case protocol::kCmdJobCountQuery:
            batch.Reply(protocol::BuildJobCount(jobPool_->Pending()));
            Event(5, m);
            break;
        case protocol::kCmdWorkerCountQuery:
            batch.Reply(protocol::BuildWorkerCount(workerCount_));
            Event(6, m);
            break;
        case protocol::kCmdPing:
            if (const auto stamp = protocol::ParsePing(body)) {
                batch.Reply(protocol::BuildPingEcho(*stamp));
                Event(8, m);
            } else {
                Event(7, m);
            }
            break;
        case protocol::kCmdStreamAck:
            RelayAck(batch, body);
            break;
        case protocol::kCmdStreamBlock:
            HandleStreamBlock(batch, body);
            break;
        case protocol::kCmdStreamEnd:
            HandleStreamEnd(batch, body);
            break;
        default:
            Event(7, m);
            break;
    }
}

// Job request (2) or stream job request (161): job limit, stream part, name, parameters,
// then queued on the job pool.
void Slave::HandleJobRequest(Batch& batch, std::span<uint8_t> body) {
    MasterEntry& entry = batch.entry;
    if (body.size() < 8) {
        Event(7, batch.master);
        return;
    }
    const int32_t command = ReadLe32(body.data());
    const int32_t jobId = ReadLe32(body.data() + 4);
    const int32_t limit = entry.jobLimit.load();
    if (limit != 0 && entry.outstandingJobs.load() >= limit) {
        batch.Status(protocol::kStatusLimitReached, jobId);
        return;
    }
    if (body.size() < protocol::kJobRequestHeadSize) {
        batch.Status(protocol::kStatusBadParameters, jobId);
        return;
    }
    StreamRecord* stream = nullptr;
    if (command == protocol::kCmdStreamJobRequest) {
        const int32_t target = ReadLe32(body.data() + 8);
        if (target != 0) {
            RelayStreamStart(batch, body, target);
            return;
        }
        // A size that is negative, absurd or cannot be allocated refuses the stream; the
        // job is not started without it.
        stream = streams_.Start(entry, ReadLe32(body.data() + 12));
        batch.Ack(stream != nullptr ? 1 : 0, 0);
        if (stream == nullptr) return;
    }
    auto refuse = [&](int32_t code) {
        batch.Status(code, jobId);
        if (stream != nullptr) streams_.Abandon(stream);
    };
    auto parsed = protocol::ParseJobRequest(body);
    if (!parsed) return refuse(protocol::kStatusBadParameters);
    const auto job = registry_.Lookup(parsed->name);
    if (!job) return refuse(protocol::kStatusUnknownJob);
    // A block that holds no value gives the job no list; no list is built for it.
    ParameterListPtr parameters;
    if (parsed->params.size() < 4 || ReadLe32(parsed->params.data()) > 0) {
        parameters = DecodeParameters(parsed->params);
        if (!parameters) return refuse(protocol::kStatusBadParameters);
        if (parameters->Count() == 0) parameters.reset();
    }

    entry.outstandingJobs.fetch_add(1);
    Statistics().RecordJobAccepted(job->number, batch.master);
    JobRequest request;
    request.link = batch.link;
    request.entry = &entry;
    request.master = batch.master;
    request.job = *job;
    request.jobId = jobId;
    request.name = std::move(parsed->name);
    request.accessCheck = entry.accessCheck.load();
    request.stream = stream;
    request.parameters = std::move(parameters);
    // The queued notice goes into the master's queue before the job can start, so the master
    // always sees "queued" before "started".
    batch.Status(protocol::kStatusQueued, jobId);
    Event(4, batch.master, request.name);
    const int32_t kind = PriorityKind(ReadLe32(body.data() + 16));
    jobPool_->Enqueue([this, job = std::move(request)]() mutable { RunJob(job); }, kind);
}

// Stream job request for another master B: forwarded with the sender's number at word 4.
void Slave::RelayStreamStart(Batch& batch, std::span<uint8_t> body, int32_t target) {
    const std::shared_ptr<MasterLink> to = ConnectedLink(target);
    if (!to) {
        batch.Ack(0, 0);
        return;
    }
    if (!batch.entry.streamRelayAllowed.load()) {
        batch.Ack(0, 1);
        return;
    }
    protocol::WriteLe32(body.data() + 4, batch.master);
    if (!to->Send(body)) batch.Ack(0, 0);
}

void Slave::HandleStreamBlock(Batch& batch, std::span<uint8_t> body) {
    const auto block = protocol::ParseStreamBlock(body);
    if (!block) {
        Event(7, batch.master);
        return;
    }
    const bool crcMatches = Crc32(block->data.data(), block->data.size()) == block->crc;
    if (StreamRecord* record = streams_.Pin(batch.entry)) {
        OrvexReceivedStream& stream = record->stream;
        // A block must lie within the stream's buffer (measured by the size it was allocated
        // with, not by the field the application can write); one that does not is not written.
        const bool inside =
            block->offset >= 0 &&
            static_cast<int64_t>(block->offset) + static_cast<int64_t>(block->data.size()) <=
                record->bufferSize;
        const bool ok = crcMatches && inside;
        if (ok && !block->data.empty()) {
            std::memcpy(static_cast<uint8_t*>(record->buffer) + block->offset, block->data.data(),
                        block->data.size());
            NoteStoredBlock(*record, block->offset, static_cast<int32_t>(block->data.size()),
                            block->crc);
            const int64_t received = static_cast<int64_t>(LoadStreamField(stream.received)) +
                                     static_cast<int64_t>(block->data.size());
            StoreStreamField(stream.received,
                             static_cast<int32_t>(std::min<int64_t>(received, INT32_MAX)));
        }
        const bool cancel = LoadStreamField(stream.cancelRequest) != 0;
        if (cancel) StoreStreamField(stream.state, kStreamCanceled);
        streams_.Unpin(record);
        batch.Ack(ok ? 1 : 0, cancel ? 1 : 0);
        return;
    }
    // No stream of this master: a block relayed to another master, or nothing.
    if (block->target == 0) return;
    const std::shared_ptr<MasterLink> to = ConnectedLink(block->target);
    if (!to) {
        batch.Ack(0, 1);
        return;
    }
    if (!crcMatches) {
        batch.Ack(0, 0);
        return;
    }
    protocol::WriteLe32(body.data() + 4, batch.master);
    to->Send(body);
}

void Slave::HandleStreamEnd(Batch& batch, std::span<uint8_t> body) {
    const auto end = protocol::ParseStreamEnd(body);
    if (!end) {
        Event(7, batch.master);
        return;
    }
    if (StreamRecord* record = streams_.Pin(batch.entry)) {
        OrvexReceivedStream& stream = record->stream;
        int32_t ok = 0;
        if (end->crc == 0) {
            StoreStreamField(stream.state, end->cancel != 0 ? kStreamCanceled : kStreamFailed);
        } else if (WholeStreamCrc(*record) == end->crc) {
            StoreStreamField(stream.state, kStreamComplete);
            ok = 1;
        } else {
            StoreStreamField(stream.state, kStreamFailed);
        }
        streams_.EndCurrent(batch.entry, record);
        streams_.Unpin(record);
        batch.Ack(ok, 0);
        return;
    }
    if (end->target == 0) return;
    protocol::WriteLe32(body.data() + 4, batch.master);
    if (const auto to = ConnectedLink(end->target)) to->Send(body);
}

// An acknowledgement from a master that receives a relayed stream, for the sender A.
void Slave::RelayAck(Batch& batch, std::span<uint8_t> body) {
    const auto ack = protocol::ParseStreamAck(body);
    if (!ack) {
        Event(7, batch.master);
        return;
    }
    const std::shared_ptr<MasterLink> to = ConnectedLink(ack->streamId);
    if (!to || !to->Send(body)) batch.Reply(protocol::BuildMissingRelayTarget());
}

void Slave::ReceiveFailed(Batch& batch) {
    if (StreamRecord* record = streams_.Pin(batch.entry)) {
        StoreStreamField(record->stream.state, kStreamFailed);
        streams_.Unpin(record);
    }
    Event(255, 0);
    batch.Status(protocol::kStatusReceiveFailed, 0);
}

}  // namespace orvex
