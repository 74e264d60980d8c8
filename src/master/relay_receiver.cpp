// Receiving streams that other masters relay to this one through a slave.
//
// A stream job request (161) creates a RelayedStream, enters it in the slot's stream map under
// its stream id (the sending master's number on the slave) and starts the relay handler in a
// thread of its own; blocks (162) and the end (163) are matched to it through the map. The
// stream's data is written only under incomingStreamsLock_, which Orvex_Master_FreeStream also
// takes, so a stream freed while it was still being received is never written again.
#include <zlib.h>

#include <cstring>
#include <system_error>

#include "core/crc32.hpp"
#include "master/master.hpp"
#include "params/parameter_block.hpp"
#include "protocol/messages.hpp"

namespace orvex {

namespace proto = protocol;

void Master::HandleRelayStart(SlaveSlot& slot, int32_t slave, std::span<const uint8_t> body) {
    auto request = proto::ParseJobRequest(body);
    if (!request) return;
    const int32_t streamId = request->head.jobId;
    const int32_t size = request->head.streamSize;
    auto record = std::make_unique<RelayedStream>();
    record->stream.data = size > 0 ? AllocateBlock(size) : nullptr;
    if ((size > 0 && record->stream.data == nullptr) ||
        RunningRelayHandlers() >= kMaxRelayHandlers) {
        // No room for the stream, or too many handlers still running: refuse it as a missing
        // target, before anything is kept.
        SendToSlave(slot, proto::BuildStreamAck(streamId, 0, 0));
        return;
    }
    record->stream.size = size;
    record->stream.state = kStreamReceiving;
    record->stream.listEntry = record.get();
    record->slave = slave;
    record->streamId = streamId;
    record->inMap = true;

    ParameterListPtr params = DecodeParameters(request->params);
    if (params && params->Count() == 0) params.reset();  // a list without values is passed as 0
    OrvexReceivedStream* stream = &record->stream;
    {
        std::scoped_lock guard(incomingStreamsLock_);
        // A stream id still receiving belongs to a stream its sender gave up: it has failed.
        if (RelayedStream* previous = slot.streamMap.Lookup(streamId)) {
            previous->inMap = false;
            StoreField(previous->stream.state, kStreamFailed);
        }
        slot.streamMap.Store(streamId, record.get());
        incomingStreams_.emplace(stream, std::move(record));
    }
    StartRelayHandler(slave, streamId, std::move(request->name), std::move(params), stream);
    SendToSlave(slot, proto::BuildStreamAck(streamId, 1, 0));
}

void Master::HandleRelayBlock(SlaveSlot& slot, std::span<const uint8_t> body) {
    const auto block = proto::ParseStreamBlock(body);
    if (!block) return;
    const int32_t streamId = block->target;
    const bool crcMatches = Crc32(block->data.data(), block->data.size()) == block->crc;
    int32_t ok = 0;
    int32_t canceled = 0;
    {
        std::scoped_lock guard(incomingStreamsLock_);
        RelayedStream* record = slot.streamMap.Lookup(streamId);
        if (record == nullptr) return;  // no such stream: the block is ignored
        OrvexReceivedStream& stream = record->stream;
        const int64_t end = int64_t{block->offset} + static_cast<int64_t>(block->data.size());
        // A block outside the buffer is not written; it is answered like a CRC failure.
        if (crcMatches && block->offset >= 0 && end <= stream.size) {
            if (!block->data.empty()) {
                std::memcpy(static_cast<uint8_t*>(stream.data) + block->offset, block->data.data(),
                            block->data.size());
            }
            StoreField(stream.received,
                       LoadField(stream.received) + static_cast<int32_t>(block->data.size()));
            ok = 1;
            if (record->inOrder && block->offset == record->inOrderEnd) {
                record->inOrderCrc = static_cast<uint32_t>(crc32_combine(
                    record->inOrderCrc, block->crc, static_cast<z_off_t>(block->data.size())));
                record->inOrderEnd = static_cast<int32_t>(end);
            } else {
                record->inOrder = false;
            }
        }
        if (LoadField(stream.cancelRequest) != 0) {
            StoreField(stream.state, kStreamCanceled);
            slot.streamMap.Store(streamId, nullptr);
            record->inMap = false;
            canceled = 1;
        }
    }
    SendToSlave(slot, proto::BuildStreamAck(streamId, ok, canceled));
}

void Master::HandleRelayEnd(SlaveSlot& slot, std::span<const uint8_t> body) {
    const auto end = proto::ParseStreamEnd(body);
    if (!end) return;
    const int32_t streamId = end->target;
    bool reply = false;
    int32_t ok = 0;
    {
        std::scoped_lock guard(incomingStreamsLock_);
        RelayedStream* record = slot.streamMap.Lookup(streamId);
        if (record == nullptr) return;
        OrvexReceivedStream& stream = record->stream;
        if (end->crc == 0) {
            // No check: a cancel, or a sender that gave up. An empty stream has nothing to
            // check and is complete.
            const bool empty = stream.size == 0 && end->cancel == 0;
            StoreField(stream.state, end->cancel != 0 ? kStreamCanceled
                                     : empty          ? kStreamComplete
                                                      : kStreamFailed);
        } else {
            const uint32_t crc = record->inOrder && record->inOrderEnd == stream.size
                                     ? record->inOrderCrc
                                     : Crc32(stream.data, static_cast<size_t>(stream.size));
            ok = crc == end->crc ? 1 : 0;
            StoreField(stream.state, ok ? kStreamComplete : kStreamFailed);
            reply = true;
        }
        slot.streamMap.Store(streamId, nullptr);
        record->inMap = false;
    }
    if (reply) SendToSlave(slot, proto::BuildStreamAck(streamId, ok, 0));
}

void Master::StartRelayHandler(int32_t slave, int32_t streamId, Text name, ParameterListPtr params,
                               OrvexReceivedStream* stream) {
    ReapRelayThreads(false);
    std::scoped_lock guard(relayThreadsLock_);
    RelayThread& entry = relayThreads_.emplace_back();
    try {
        entry.thread = std::thread([this, &entry, slave, streamId, name = std::move(name),
                                    params = std::move(params), stream]() mutable {
            relayHandler_(Handle(), slave, streamId, name.c_str(), ToHandle(params.get()), stream);
            params.reset();
            entry.done = true;
        });
    } catch (const std::system_error&) {
        // No thread for the handler: the stream is received all the same and waits for
        // Orvex_Master_FreeStream or DeInit.
        relayThreads_.pop_back();
    }
}

size_t Master::RunningRelayHandlers() {
    ReapRelayThreads(false);
    std::scoped_lock guard(relayThreadsLock_);
    return relayThreads_.size();
}

// Joins relay handler threads: those that have finished, or with `all` every one (DeInit).
void Master::ReapRelayThreads(bool all) {
    std::list<RelayThread> finished;
    {
        std::scoped_lock guard(relayThreadsLock_);
        for (auto it = relayThreads_.begin(); it != relayThreads_.end();) {
            const auto next = std::next(it);
            if (all || it->done.load()) finished.splice(finished.end(), relayThreads_, it);
            it = next;
        }
    }
    for (RelayThread& entry : finished) {
        if (entry.thread.joinable()) entry.thread.join();
    }
}

// DeInit: nothing will arrive for streams still being received; a handler that waits for
// its stream sees it fail.
void Master::FailUnfinishedStreams() {
    std::scoped_lock guard(incomingStreamsLock_);
    for (auto& [stream, record] : incomingStreams_) {
        if (!record->inMap) continue;
        record->inMap = false;
        if (SlaveSlot* slot = SlotAt(record->slave))
            slot->streamMap.Store(record->streamId, nullptr);
        StoreField(stream->state, kStreamFailed);
    }
}

int32_t Master::FreeStream(OrvexReceivedStream* stream) {
    std::unique_ptr<RelayedStream> record;
    {
        std::scoped_lock guard(incomingStreamsLock_);
        const auto found = incomingStreams_.find(stream);
        if (found == incomingStreams_.end()) return 0;  // not one of ours (or freed before)
        record = std::move(found->second);
        incomingStreams_.erase(found);
        if (record->inMap) {
            // Still receiving: later blocks must not find it.
            if (SlaveSlot* slot = SlotAt(record->slave)) {
                slot->streamMap.Store(record->streamId, nullptr);
            }
        }
    }
    return 0;  // the record and its buffer are freed here, outside the lock
}

}  // namespace orvex
