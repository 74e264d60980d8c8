#include "slave/master_link.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "protocol/messages.hpp"
#include "slave/resend_queue.hpp"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;

// A send worker waiting for a slow master re-checks Abort this often.
constexpr int kWaitTickMs = 50;
// Buffers that grew past this for one large message are released after it.
constexpr size_t kKeptBufferSize = 4 * 1024 * 1024;

void TrimBuffer(std::vector<uint8_t>& buffer) {
    buffer.clear();
    if (buffer.capacity() > kKeptBufferSize) std::vector<uint8_t>().swap(buffer);
}

// Appends the compressed form of one plain packet (header included) to `out`:
// magic, C + 8, 255, plain size, zlib data. False (out unchanged) when zlib fails.
bool AppendCompressed(std::span<const uint8_t> plain, int level, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    uLongf bound = compressBound(static_cast<uLong>(plain.size()));
    out.resize(start + 16 + bound);
    if (compress2(out.data() + start + 16, &bound, plain.data(), static_cast<uLong>(plain.size()),
                  level) != Z_OK) {
        out.resize(start);
        return false;
    }
    uint8_t* head = out.data() + start;
    protocol::WriteLe32(head, protocol::kPacketMagic);
    protocol::WriteLe32(head + 4, static_cast<int32_t>(bound + 8));
    protocol::WriteLe32(head + 8, protocol::kCmdCompressed);
    protocol::WriteLe32(head + 12, static_cast<int32_t>(plain.size()));
    out.resize(start + 16 + bound);
    return true;
}

}  // namespace

MasterLink::MasterLink(net::Handle connection, const SendSettings& settings, ResendQueue& resend)
    : connection_(connection), settings_(settings), resend_(resend) {}

MasterLink::~MasterLink() {
    open_.store(false);
    abort_.store(true);
    sendWorker_.Stop();
    net::Close(connection_);
}

// Frames head + tail into pending_ (lock_ held, length checked by the caller).
void MasterLink::QueueLocked(std::span<const uint8_t> head, std::span<const uint8_t> tail) {
    const size_t length = head.size() + tail.size();
    uint8_t header[protocol::kHeaderSize];
    protocol::WriteLe32(header, protocol::kPacketMagic);
    protocol::WriteLe32(header + 4, static_cast<int32_t>(length));
    const size_t begin = pending_.size();
    pending_.insert(pending_.end(), header, header + protocol::kHeaderSize);
    pending_.insert(pending_.end(), head.begin(), head.end());
    pending_.insert(pending_.end(), tail.begin(), tail.end());
    pendingRecords_.push_back({begin, protocol::kHeaderSize + length});
}

bool MasterLink::Send(std::span<const uint8_t> head, std::span<const uint8_t> tail, bool defer) {
    const size_t length = head.size() + tail.size();
    if (length > static_cast<size_t>(protocol::kMaxBodyLength)) return false;
    {
        std::unique_lock guard(lock_);
        if (!open_.load(std::memory_order_relaxed)) return false;
        QueueLocked(head, tail);
        if (writing_ || defer) return true;
        writing_ = true;
    }
    WriteLoop(false);
    return true;
}

void MasterLink::Flush() {
    {
        std::scoped_lock guard(lock_);
        if (writing_ || pending_.empty()) return;
        writing_ = true;
    }
    WriteLoop(false);
}

void MasterLink::Close(bool drainFirst, std::span<const uint8_t> lastBody) {
    {
        std::unique_lock guard(lock_);
        if (!lastBody.empty() && open_.load(std::memory_order_relaxed) &&
            lastBody.size() <= static_cast<size_t>(protocol::kMaxBodyLength)) {
            QueueLocked(lastBody, {});
        }
        open_.store(false, std::memory_order_release);
        if (drainFirst && (writing_ || !pending_.empty())) {
            shutdownWhenDrained_ = true;
            if (writing_) return;
            writing_ = true;
            guard.unlock();
            WriteLoop(false);
            return;
        }
    }
    abort_.store(true);
    net::Shutdown(connection_);
}

bool MasterLink::WaitDrained(Clock::time_point deadline) {
    std::unique_lock guard(lock_);
    return drained_.wait_until(guard, deadline, [&] { return !writing_ && pending_.empty(); });
}

// Writes batch after batch until nothing is queued. Without mayBlock (any thread but the send
// worker) it hands the rest to the send worker as soon as the connection would block.
void MasterLink::WriteLoop(bool mayBlock) {
    auto lastProgress = Clock::now();
    for (;;) {
        if (written_ == wire_.size()) {
            if (!TakeBatch()) return;
            lastProgress = Clock::now();
        }
        const iovec part{const_cast<uint8_t*>(wire_.data() + written_), wire_.size() - written_};
        const int32_t r = net::WriteSome(connection_, &part, 1);
        if (r < 0) {
            WriteFailed(true);
            return;
        }
        if (r > 0) {
            written_ += static_cast<size_t>(r);
            lastProgress = Clock::now();
            continue;
        }
        if (!mayBlock) {
            sendWorker_.Enqueue([this] { WriteLoop(true); }, kTaskLow);
            return;
        }
        const auto stalled =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress)
                .count();
        if (abort_.load() || stalled >= protocol::kWriteStallLimitMs) {
            WriteFailed(abort_.load());
            return;
        }
        net::WaitWritable(connection_, static_cast<int>(std::min<int64_t>(
                                           kWaitTickMs, protocol::kWriteStallLimitMs - stalled)));
    }
}

// Takes everything queued as the next batch; false (and the writer role given up) when
// nothing is queued.
bool MasterLink::TakeBatch() {
    TrimBuffer(batch_);
    TrimBuffer(compressed_);
    batchRecords_.clear();
    wire_ = {};
    written_ = 0;
    {
        std::scoped_lock guard(lock_);
        if (pending_.empty()) {
            writing_ = false;
            if (shutdownWhenDrained_) net::ShutdownWrite(connection_);
            drained_.notify_all();
            return false;
        }
        batch_.swap(pending_);
        batchRecords_.swap(pendingRecords_);
    }
    PrepareWire();
    return true;
}

// The bytes to write for batch_: the plain packets themselves, or, when compression applies
// to any of them, a copy in which those packets are compressed.
void MasterLink::PrepareWire() {
    const protocol::CompressionSettings settings = settings_.Compression();
    wireEnds_.clear();
    bool anyCompressed = false;
    for (const Record& record : batchRecords_) {
        if (protocol::ShouldCompress(settings,
                                     static_cast<int64_t>(record.size - protocol::kHeaderSize))) {
            anyCompressed = true;
            break;
        }
    }
    if (!anyCompressed) {
        for (const Record& record : batchRecords_) wireEnds_.push_back(record.begin + record.size);
        wire_ = batch_;
        return;
    }
    for (const Record& record : batchRecords_) {
        const std::span<const uint8_t> plain(batch_.data() + record.begin, record.size);
        const bool compress = protocol::ShouldCompress(
            settings, static_cast<int64_t>(record.size - protocol::kHeaderSize));
        if (!compress || !AppendCompressed(plain, settings.level, compressed_)) {
            compressed_.insert(compressed_.end(), plain.begin(), plain.end());
        }
        wireEnds_.push_back(compressed_.size());
    }
    wire_ = compressed_;
}

void MasterLink::WriteFailed(bool connectionFailed) {
    // Find the first packet that was not written completely.
    size_t first = 0;
    while (first < wireEnds_.size() && wireEnds_[first] <= written_) ++first;
    const size_t startOfFirst = first == 0 ? 0 : wireEnds_[first - 1];
    const bool brokenStream = written_ != startOfFirst;
    if (connectionFailed || brokenStream || !IsOpen()) {
        open_.store(false, std::memory_order_release);
        abort_.store(true);
        net::Shutdown(connection_);
    } else {
        for (size_t i = first; i < batchRecords_.size(); ++i) {
            const Record& record = batchRecords_[i];
            const uint8_t* body = batch_.data() + record.begin + protocol::kHeaderSize;
            resend_.Add(weak_from_this(),
                        std::vector<uint8_t>(body, body + record.size - protocol::kHeaderSize));
        }
    }
    StopWriting();
}

// Gives up the writer role after a failure; what is still queued stays for the next writer
// unless the link is closed.
void MasterLink::StopWriting() {
    TrimBuffer(batch_);
    TrimBuffer(compressed_);
    batchRecords_.clear();
    wire_ = {};
    written_ = 0;
    std::scoped_lock guard(lock_);
    writing_ = false;
    if (!open_.load(std::memory_order_relaxed)) {
        pending_.clear();
        pendingRecords_.clear();
    }
    if (shutdownWhenDrained_) net::ShutdownWrite(connection_);
    drained_.notify_all();
}

}  // namespace orvex
