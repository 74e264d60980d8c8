#include "protocol/framing.hpp"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "protocol/byte_buffer.hpp"

namespace orvex::protocol {
namespace {

// Receive buffers are kept per thread between batches; one that grew past this is released
// after its batch so that a single large packet does not pin memory.
constexpr size_t kKeptBufferSize = 4 * 1024 * 1024;

ByteBuffer& ThreadReceiveBuffer() {
    thread_local ByteBuffer buffer;
    return buffer;
}

ByteBuffer& ThreadInflateBuffer() {
    thread_local ByteBuffer buffer;
    return buffer;
}

void ReleaseIfLarge(ByteBuffer& buffer) {
    if (buffer.capacity() > kKeptBufferSize) buffer.Release();
}

// A deflate state kept per sending thread: setting one up allocates a few hundred KiB, which
// would otherwise dominate the cost of compressing small packets.
class DeflateState {
public:
    DeflateState() = default;
    DeflateState(const DeflateState&) = delete;
    DeflateState& operator=(const DeflateState&) = delete;
    ~DeflateState() { Discard(); }

    // Ready for a new zlib stream at `level`; false when zlib refuses the level.
    bool Prepare(int level) {
        if (ready_ && level_ == level) return deflateReset(&stream) == Z_OK;
        Discard();
        stream = z_stream{};
        if (deflateInit(&stream, level) != Z_OK) return false;
        ready_ = true;
        level_ = level;
        return true;
    }

    void Discard() {
        if (ready_) deflateEnd(&stream);
        ready_ = false;
    }

    z_stream stream{};

private:
    bool ready_ = false;
    int level_ = 0;
};

DeflateState& ThreadDeflateState() {
    thread_local DeflateState state;
    return state;
}

// Compresses the whole plain packet (header, head, tail) into a compressed packet. Returns
// false with allocationFailed set when the buffer could not be allocated, false without it
// when zlib failed (the caller then sends the plain packet).
bool Compress(const uint8_t* header, std::span<const uint8_t> head, std::span<const uint8_t> tail,
              int level, ByteBuffer& packet, size_t& packetSize, bool& allocationFailed) {
    const size_t plainSize = kHeaderSize + head.size() + tail.size();
    const size_t bound = plainSize + plainSize / 100 + 13;
    if (!packet.Reserve(16 + bound)) {
        allocationFailed = true;
        return false;
    }
    DeflateState& state = ThreadDeflateState();
    if (!state.Prepare(level)) return false;
    z_stream& stream = state.stream;
    stream.next_out = packet.data() + 16;
    stream.avail_out = static_cast<uInt>(bound);
    const std::span<const uint8_t> pieces[] = {{header, static_cast<size_t>(kHeaderSize)}, head, tail};
    int status = Z_OK;
    for (size_t i = 0; i < 3 && status == Z_OK; ++i) {
        stream.next_in = const_cast<Bytef*>(pieces[i].data());
        stream.avail_in = static_cast<uInt>(pieces[i].size());
        status = deflate(&stream, i == 2 ? Z_FINISH : Z_NO_FLUSH);
    }
    const size_t compressed = stream.total_out;
    if (status != Z_STREAM_END) {
        state.Discard();
        return false;
    }
    uint8_t* p = packet.data();
    WriteWord(p, static_cast<int32_t>(kPacketMagic));
    WriteWord(p + 4, static_cast<int32_t>(compressed + 8));
    WriteWord(p + 8, kCompressedMarker);
    WriteWord(p + 12, static_cast<int32_t>(plainSize));
    packetSize = 16 + compressed;
    return true;
}

}  // namespace

int32_t WriteWithRetry(net::Handle connection, std::span<const iovec> parts) {
    iovec pending[4];
    int count = 0;
    for (const iovec& part : parts) {
        if (part.iov_len > 0 && count < 4) pending[count++] = part;
    }
    auto lastProgress = std::chrono::steady_clock::now();
    int first = 0;
    for (;;) {
        const int32_t r = net::WriteSome(connection, pending + first, count - first);
        if (r < 0) return -1;
        size_t written = static_cast<size_t>(r);
        while (first < count && written >= pending[first].iov_len) {
            written -= pending[first].iov_len;
            ++first;
        }
        if (first == count) return r;
        if (written > 0) {
            pending[first].iov_base = static_cast<uint8_t*>(pending[first].iov_base) + written;
            pending[first].iov_len -= written;
        }
        const auto now = std::chrono::steady_clock::now();
        if (r > 0) lastProgress = now;
        const auto stalled =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastProgress).count();
        if (stalled >= kWriteStallLimitMs) return -1;
        net::WaitWritable(connection, static_cast<int>(kWriteStallLimitMs - stalled));
    }
}

SendResult SendPacket(net::Handle connection, RecursiveMutex& sendLock,
                      const CompressionSettings& settings, std::span<const uint8_t> head,
                      std::span<const uint8_t> tail) {
    SendResult result;
    const size_t length = head.size() + tail.size();
    if (length > static_cast<size_t>(kMaxBodyLength)) return result;
    uint8_t header[kHeaderSize];
    WriteWord(header, static_cast<int32_t>(kPacketMagic));
    WriteWord(header + 4, static_cast<int32_t>(length));

    if (ShouldCompress(settings, static_cast<int64_t>(length))) {
        ByteBuffer packet;
        size_t packetSize = 0;
        if (Compress(header, head, tail, settings.level, packet, packetSize,
                     result.allocationFailed)) {
            const iovec part{packet.data(), packetSize};
            std::scoped_lock guard(sendLock);
            result.result = WriteWithRetry(connection, {&part, 1});
            return result;
        }
        if (result.allocationFailed) return result;
    }
    const iovec parts[3] = {{header, kHeaderSize},
                            {const_cast<uint8_t*>(head.data()), head.size()},
                            {const_cast<uint8_t*>(tail.data()), tail.size()}};
    std::scoped_lock guard(sendLock);
    result.result = WriteWithRetry(connection, parts);
    return result;
}

namespace {

// One receive batch over one connection.
class Batch {
public:
    Batch(net::Handle connection, int32_t peer, int32_t blockSize, BatchOwner& owner)
        : connection_(connection),
          peer_(peer),
          block_(std::clamp<int32_t>(blockSize, 1, kMaxReadBlock)),
          owner_(owner),
          buffer_(ThreadReceiveBuffer()) {}

    BatchEnd Run() {
        if (!BlockReads(0)) return BatchEnd::kComplete;
        size_t pos = 0;
        while (pos < total_) {
            if (total_ - pos < static_cast<size_t>(kHeaderSize)) {
                BlockReads(kLateByteWaitMs);
                if (total_ - pos < static_cast<size_t>(kHeaderSize)) return BatchEnd::kReceiveError;
            }
            const uint8_t* header = buffer_.data() + pos;
            if (static_cast<uint32_t>(ReadWord(header)) != kPacketMagic) return BatchEnd::kBadPacket;
            const int32_t length = ReadWord(header + 4);
            if (length < 4 || length > kMaxBodyLength) return BatchEnd::kBadPacket;
            const size_t end = pos + kHeaderSize + static_cast<size_t>(length);
            if (end > total_ && !ReadMissing(end)) return BatchEnd::kReceiveError;
            DispatchBody({buffer_.data() + pos + kHeaderSize, static_cast<size_t>(length)});
            pos = end;
        }
        return BatchEnd::kComplete;
    }

private:
    // Reads blocks of block_ bytes until a read returns less; the first read may wait up to
    // firstWaitMs for data. False when memory ran out before anything was read.
    bool BlockReads(int firstWaitMs) {
        int waitMs = firstWaitMs;
        for (;;) {
            if (!buffer_.Reserve(total_ + block_)) return total_ > 0;
            const int32_t r = net::ReadWait(connection_, buffer_.data() + total_, block_, waitMs);
            waitMs = 0;
            if (r > 0) total_ += static_cast<size_t>(r);
            if (r < block_) return true;
        }
    }

    // Reads exactly the bytes missing up to `end` (never into the next packet). Each wait for
    // late bytes blocks on the socket for at most kLateByteWaitMs; the packet is given up after
    // kLateByteWaits waits that brought nothing, or when the peer closed the connection.
    bool ReadMissing(size_t end) {
        int idleWaits = 0;
        while (total_ < end) {
            // Grow with the data that arrives rather than to the claimed size at once.
            const size_t chunk = std::min(end - total_, std::max<size_t>(total_, 1 << 20));
            if (!buffer_.Reserve(total_ + chunk)) return false;
            const int32_t r = net::ReadWait(connection_, buffer_.data() + total_,
                                            static_cast<int32_t>(chunk), kLateByteWaitMs);
            if (r > 0) {
                total_ += static_cast<size_t>(r);
                idleWaits = 0;
            } else if (r == net::kClosed || ++idleWaits >= kLateByteWaits) {
                return false;
            }
        }
        return true;
    }

    void DispatchBody(std::span<uint8_t> body) {
        if (ReadWord(body.data()) != kCompressedMarker || body.size() < 8) {
            owner_.Dispatch(peer_, body);
            return;
        }
        // The inner packet's own header is skipped without looking at it.
        const int32_t plainSize = ReadWord(body.data() + 4);
        ByteBuffer& inflated = ThreadInflateBuffer();
        if (plainSize >= kHeaderSize + 4 && plainSize <= kMaxBodyLength + kHeaderSize &&
            inflated.Reserve(static_cast<size_t>(plainSize))) {
            uLongf produced = static_cast<uLongf>(plainSize);
            const int status = uncompress(inflated.data(), &produced, body.data() + 8,
                                          static_cast<uLong>(body.size() - 8));
            if (status == Z_OK && produced == static_cast<uLongf>(plainSize)) {
                owner_.Dispatch(peer_, {inflated.data() + kHeaderSize,
                                        static_cast<size_t>(plainSize - kHeaderSize)});
                ReleaseIfLarge(inflated);
                return;
            }
        }
        ReleaseIfLarge(inflated);
        owner_.Dispatch(peer_, body);  // command 255: no handler knows it
    }

    net::Handle connection_;
    int32_t peer_;
    int32_t block_;
    BatchOwner& owner_;
    ByteBuffer& buffer_;
    size_t total_ = 0;
};

}  // namespace

BatchEnd RunReceiveBatch(net::Handle connection, int32_t peer, int32_t blockSize,
                         BatchOwner& owner) {
    owner.OnBatchStart(peer);
    const BatchEnd end = Batch(connection, peer, blockSize, owner).Run();
    if (end == BatchEnd::kReceiveError) owner.OnReceiveError(peer);
    owner.OnBatchEnd(peer);
    ReleaseIfLarge(ThreadReceiveBuffer());
    return end;
}

}  // namespace orvex::protocol
