// Sending a stream: stop-and-wait blocks, each CRC-checked and acknowledged by the receiver,
// then a stream end with the CRC-32 of the whole stream.
//
// Acknowledgement waits block on the slot's ackSignal with the stream time-out; the dispatch
// stores ackOk_/ackRefused_ before raising it. The retry pauses of 8 ms give a receiver that
// failed time to recover.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/crc32.hpp"
#include "master/master.hpp"
#include "protocol/messages.hpp"

namespace orvex {
namespace {

constexpr const char* kDoJob = "Orvex_Master_DoJob";
constexpr int32_t kDefaultStreamBlockSize = 262144;
constexpr int32_t kCrcErrorsBeforeShrink = 5;  // the counter must exceed this
constexpr int32_t kSmallestShrinkingBlock = 128;
constexpr int kRetryPauseMs = 8;

void RetryPause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
}

}  // namespace

bool Master::WaitForAck(SlaveSlot& slot) {
    // Nothing answers a slot without a connection, or one whose slave closed the connection
    // (the transfer cannot go on, whatever came before the close); do not wait for the
    // time-out. The network thread raises ackSignal when it sees the close.
    const auto gone = [&] { return stopping_.load() || slot.peerClosed.load(); };
    if (gone()) return false;
    if (slot.ackSignal.TryWait()) return !gone();
    if (!slot.connected.load()) return false;
    return slot.ackSignal.WaitFor(std::max(streamTimeout_.load(), 0)) && !gone();
}

void Master::SendStreamEnd(SlaveSlot& slot, int32_t target, uint32_t crc, int32_t cancel) {
    const auto end = protocol::BuildStreamEnd(target, crc, cancel);
    SendToSlave(slot, end);
}

// Runs with streamLock_ held and streamSending_ set (both by DoJob before the request left).
int32_t Master::SendStream(SlaveSlot& slot, int32_t slave, int32_t jobId, const JobOrder& order) {
    int32_t result = jobId;
    if (order.target != 0) {
        // The job goes to another master: nothing of it comes back to this job id.
        jobTable_.Release(jobId);
        result = 1;
    }
    if (!WaitForAck(slot)) {
        SetError(kDoJob, "could not init stream");
        result = 0;
    } else if (ackOk_.load() == 0) {
        SetError(kDoJob, ackRefused_.load() != 0
                             ? "you are not allowed to send streams via this slave"
                             : "stream target not found");
        result = 0;
    } else if (!TransferBlocks(slot, slave, order)) {
        result = 0;
    }
    streamSending_ = false;
    return result;
}

bool Master::TransferBlocks(SlaveSlot& slot, int32_t slave, const JobOrder& order) {
    const int32_t size = order.streamSize;
    const int32_t target = order.target;
    int32_t blockSize = order.blockSize > 0 ? order.blockSize : kDefaultStreamBlockSize;
    int32_t offset = 0;
    int32_t sendFailures = 0;
    int32_t ackTimeouts = 0;
    int32_t crcErrors = 0;
    uint32_t streamCrc = 0;  // CRC-32 of the acknowledged part, extended block by block
    const auto abort = [&](const char* reason) {
        SendStreamEnd(slot, target, 0, 0);
        SetError(kDoJob, reason);
        return false;
    };
    // The CRC of the block after the one in flight is computed while the receiver checks
    // the one in flight, so the sender's CRC work stays out of the round trip.
    struct {
        int32_t offset = -1;
        int32_t length = 0;
        uint32_t crc = 0;
    } prepared;
    const auto blockCrc = [&](int32_t at, int32_t length) {
        if (prepared.offset != at || prepared.length != length) {
            prepared = {at, length, Crc32(order.streamData + at, static_cast<size_t>(length))};
        }
        return prepared.crc;
    };
    while (offset < size) {
        const int32_t chunk = std::min(blockSize, size - offset);
        const std::span<const uint8_t> data(order.streamData + offset, static_cast<size_t>(chunk));
        const uint32_t crc = blockCrc(offset, chunk);
        const auto head = protocol::BuildStreamBlockHead(target, offset, crc);
        if (SendToSlave(slot, head, data) == -1) {
            if (sendFailures > streamRetries_.load()) return abort("error while sending data");
            RetryPause();
            ++sendFailures;
            continue;
        }
        sendFailures = 0;
        if (offset + chunk < size)
            blockCrc(offset + chunk, std::min(blockSize, size - offset - chunk));
        if (!WaitForAck(slot)) {
            if (ackTimeouts > streamRetries_.load()) {
                return abort("error while sending data, timeout reached");
            }
            RetryPause();
            ++ackTimeouts;
            continue;
        }
        ackTimeouts = 0;
        if (ackRefused_.load() != 0) {
            SetError(kDoJob, "stream canceled by other side");
            return false;
        }
        if (ackOk_.load() == 0) {
            if (crcErrors <= kCrcErrorsBeforeShrink) {
                ++crcErrors;
                RetryPause();
            } else if (blockSize > kSmallestShrinkingBlock) {
                blockSize = static_cast<int32_t>(static_cast<int64_t>(blockSize) * 3 / 4);
            } else {
                return abort("error while sending data, too many crc errors");
            }
            continue;
        }
        crcErrors = 0;
        streamCrc = static_cast<uint32_t>(crc32_combine(streamCrc, crc, chunk));
        offset += chunk;
        if (order.progress != nullptr &&
            order.progress(Handle(), slave, size, offset, order.progressUserData) == 0) {
            SendStreamEnd(slot, target, 0, 1);
            SetError(kDoJob, "stream canceled by callback");
            return false;
        }
    }
    SendStreamEnd(slot, target, streamCrc, 0);
    // An empty stream has the CRC 0, which the receiver reads as "no check": there is no
    // verdict to wait for.
    if (size == 0) return true;
    if (WaitForAck(slot) && ackOk_.load() == 0) {
        SetError(kDoJob, "mayor crc error");
        return false;
    }
    return true;
}

}  // namespace orvex
