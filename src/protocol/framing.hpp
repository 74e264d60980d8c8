// Packet framing: the 8-byte header, compression of whole packets, writing a packet under the
// peer's send lock, and the receive batch that turns arrived bytes into packet bodies.
//
// Plain packet:      "XVRO" | bodyLength | body (word 0 = command code)
// Compressed packet: "XVRO" | C + 8 | 255 | plainSize | zlib data of the whole plain packet
// All words are 32-bit little-endian.
#pragma once

#include <cstdint>
#include <span>

#include "core/sync.hpp"
#include "net/socket.hpp"

namespace orvex::protocol {

inline constexpr uint32_t kPacketMagic = 0x4F525658;  // "XVRO" read as little-endian
inline constexpr int32_t kHeaderSize = 8;
inline constexpr int32_t kCompressedMarker = 255;
inline constexpr int32_t kDefaultReceiveBlockSize = 524288;

// Largest body a receiver accepts (and a sender may send). Larger claims end the batch like a
// bad magic: a hostile header cannot make the receiver allocate more than this.
inline constexpr int32_t kMaxBodyLength = 256 * 1024 * 1024;

// Block reads never ask for more than this at once, whatever block size the owner set.
inline constexpr int32_t kMaxReadBlock = 64 * 1024 * 1024;

// A write fails when the connection fails or accepts no byte for this long. (A peer that
// stops reading cannot hold a sending thread forever.)
inline constexpr int kWriteStallLimitMs = 5000;

// Late bytes of a packet: each wait blocks on the socket for at most this long, and a packet
// still incomplete after kLateByteWaits waits without any new byte is a receive error.
inline constexpr int kLateByteWaitMs = 8;
inline constexpr int kLateByteWaits = 6;

struct CompressionSettings {
    int32_t threshold = 0;  // smallest plain body length that is compressed; 0 = never
    int32_t level = 0;      // zlib level; 0 = never
};

// True when a body of `length` bytes is sent compressed under these settings.
inline bool ShouldCompress(const CompressionSettings& settings, int64_t length) {
    return settings.threshold != 0 && settings.level != 0 && length >= settings.threshold;
}

struct SendResult {
    int32_t result = -1;            // -1: not written (or written only in part); else > 0
    bool allocationFailed = false;  // the compressed packet's buffer could not be allocated
};

// Frames head + tail (tail may be empty; stream blocks pass their data there so it is not
// copied) as one packet, compresses it when the settings say so (a failing compression sends
// the plain packet), and writes it to `connection` while holding `sendLock`.
SendResult SendPacket(net::Handle connection, RecursiveMutex& sendLock,
                      const CompressionSettings& settings, std::span<const uint8_t> head,
                      std::span<const uint8_t> tail = {});

// Writes every byte of the parts. Waits on the socket while it cannot take more; fails (-1) on
// a connection error or after kWriteStallLimitMs without progress. Otherwise returns the count
// of the last write call.
int32_t WriteWithRetry(net::Handle connection, std::span<const iovec> parts);

// The owner (master or slave) of a receive batch.
class BatchOwner {
public:
    virtual ~BatchOwner() = default;
    // Called first and last in every batch (running flags, hold flags, wake-ups).
    virtual void OnBatchStart(int32_t peer) { (void)peer; }
    virtual void OnBatchEnd(int32_t peer) { (void)peer; }
    // One complete body (decompressed when it arrived compressed; a compressed body that
    // could not be inflated arrives as it is, with command 255). The bytes belong to the
    // batch and are valid only during the call; the owner may modify them in place.
    virtual void Dispatch(int32_t peer, std::span<uint8_t> body) = 0;
    // A header or body stayed incomplete; the rest of the batch is dropped.
    virtual void OnReceiveError(int32_t peer) = 0;
};

enum class BatchEnd {
    kComplete,      // every byte read was dispatched
    kBadPacket,     // bad magic or impossible body length: the rest was dropped quietly
    kReceiveError,  // reported to the owner
};

// Runs one receive batch over the bytes that have arrived on `connection`: block reads of
// `blockSize` bytes until a read returns less, then packet after packet, waiting briefly for
// late bytes of a packet that arrived in part.
BatchEnd RunReceiveBatch(net::Handle connection, int32_t peer, int32_t blockSize,
                         BatchOwner& owner);

// Little-endian word access that does not care about alignment.
inline int32_t ReadWord(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteWord(uint8_t* p, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace orvex::protocol
