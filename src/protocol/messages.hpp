// Message bodies between masters and slaves: codes, builders and parsers.
//
// A body is what one packet carries after its 8-byte header. Every field is a 32-bit
// little-endian two's-complement word; texts are in the build's character type (bytes, or
// UTF-16LE code units). Builders produce the exact body bytes. Fixed-size bodies come back
// as std::array (no heap allocation); variable bodies as a vector, or as a fixed head that
// the caller writes in front of data it already holds, so large payloads are not copied
// once more just to build the body.
//
// Parsers take the whole received body and never read past it. A body shorter than the
// fields its parser reads is rejected; longer bodies are accepted and the extra bytes are
// ignored (the receiving side of the original protocol reads fixed words only). Every
// parser also checks the command word, so a body handed to the wrong parser is rejected.
// Spans returned by parsers point into the parsed body and live as long as it does.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "core/text.hpp"

namespace orvex::protocol {

using Bytes = std::span<const uint8_t>;

// ---- Byte order -----------------------------------------------------------------------
// Alignment-safe reads and writes of little-endian words at any byte position.

inline uint32_t ReadLeU32(const uint8_t* p) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
}

inline int32_t ReadLe32(const uint8_t* p) noexcept {
    return static_cast<int32_t>(ReadLeU32(p));
}

inline void WriteLe32(uint8_t* p, uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
    }
}

inline void WriteLe32(uint8_t* p, int32_t v) noexcept {
    WriteLe32(p, static_cast<uint32_t>(v));
}

// ---- Codes ----------------------------------------------------------------------------

// Word 0 of a master-to-slave body.
inline constexpr int32_t kCmdJobListQuery = 1;
inline constexpr int32_t kCmdJobRequest = 2;
inline constexpr int32_t kCmdJobCountQuery = 3;
inline constexpr int32_t kCmdWorkerCountQuery = 4;
inline constexpr int32_t kCmdPing = 5;
inline constexpr int32_t kCmdStreamAck = 160;
inline constexpr int32_t kCmdStreamJobRequest = 161;
inline constexpr int32_t kCmdStreamBlock = 162;
inline constexpr int32_t kCmdStreamEnd = 163;
// Word 0 of a compressed packet's body; never a message of its own.
inline constexpr int32_t kCmdCompressed = 255;

// Word 0 of a slave-to-master body.
inline constexpr int32_t kTypeJobList = 1;
inline constexpr int32_t kTypeStatus = 2;  // status notices, job results and job messages
inline constexpr int32_t kTypeJobCount = 3;
inline constexpr int32_t kTypeWorkerCount = 4;
inline constexpr int32_t kTypePingEcho = 5;
inline constexpr int32_t kTypeStreamAck = 160;  // also the 4-byte goodbye

// Word 4 of a type-2 body.
inline constexpr int32_t kStatusNone = 0;  // missing relay target {2, 0, 0, 1}
inline constexpr int32_t kStatusResult = 1;
inline constexpr int32_t kStatusStarted = 2;
inline constexpr int32_t kStatusQueued = 3;
inline constexpr int32_t kStatusMessage = 4;
inline constexpr int32_t kStatusLimitReached = 5;
inline constexpr int32_t kStatusUnknownJob = 6;
inline constexpr int32_t kStatusAccessDenied = 7;
inline constexpr int32_t kStatusBadParameters = 159;
inline constexpr int32_t kStatusPaused = 161;
inline constexpr int32_t kStatusResumed = 162;
inline constexpr int32_t kStatusRemoved = 163;
inline constexpr int32_t kStatusReceiveFailed = 255;

// ---- Sizes ----------------------------------------------------------------------------

inline constexpr size_t kQuerySize = 8;            // queries, ping, counts, ping echo
inline constexpr size_t kJobRequestHeadSize = 24;  // before the name field
inline constexpr size_t kStreamBlockHeadSize = 16;
inline constexpr size_t kStreamEndSize = 16;
inline constexpr size_t kStreamAckSize = 16;
inline constexpr size_t kJobListHeadSize = 8;
inline constexpr size_t kStatusNoticeSize = 12;
inline constexpr size_t kJobPayloadHeadSize = 16;
inline constexpr size_t kMissingRelayTargetSize = 16;
inline constexpr size_t kGoodbyeSize = 4;

// Command word of a body; nullopt when the body has fewer than 4 bytes.
std::optional<int32_t> ReadCommand(Bytes body) noexcept;

// ---- Master to slave ------------------------------------------------------------------

// Job list (1), job count (3) or worker count (4) query: {command, 0}.
std::array<uint8_t, kQuerySize> BuildQuery(int32_t command) noexcept;
// Command of a query body of at least 8 bytes whose word 0 is 1, 3 or 4.
std::optional<int32_t> ParseQuery(Bytes body) noexcept;

// Ping {5, time stamp}.
std::array<uint8_t, kQuerySize> BuildPing(int32_t timeStamp) noexcept;
std::optional<int32_t> ParsePing(Bytes body) noexcept;  // the time stamp

// Job request (2) and stream job request (161): 24-byte head, name field, parameter block.
struct JobRequestHead {
    int32_t command = kCmdJobRequest;  // kCmdJobRequest or kCmdStreamJobRequest
    int32_t jobId = 0;                 // forwarded 161: the sender's master number
    int32_t target = 0;                // 161: target master number, 0 = the slave
    int32_t streamSize = 0;            // 161: stream size in bytes
    int32_t priority = 0;
};

// Body size of a job request for `name` and a parameter block of `paramsSize` bytes; 0
// when the body would not fit the 32-bit length of a packet.
size_t JobRequestSize(TextView name, size_t paramsSize) noexcept;

// Writes the request into `out`, which must hold exactly JobRequestSize(name, params.size())
// bytes (false, nothing written, otherwise). Lets the framing layer build the body in place.
bool WriteJobRequest(std::span<uint8_t> out, const JobRequestHead& head, TextView name,
                     Bytes params) noexcept;

// The request as a new body; empty when it would be too large for a packet.
std::vector<uint8_t> BuildJobRequest(const JobRequestHead& head, TextView name, Bytes params);

struct JobRequest {
    JobRequestHead head;
    Text name;     // up to the first zero character of the name field
    Bytes params;  // parameter block: the rest of the body after the name field
};

// Accepts command 2 or 161. Rejects a body shorter than 24 bytes, a name field size below
// one character, not a whole number of characters, or running past the body, and a
// negative stream size in a stream job request.
std::optional<JobRequest> ParseJobRequest(Bytes body);

// Stream block (162): 16-byte head, then the block's data.
struct StreamBlock {
    int32_t target = 0;  // forwarded: the sender's master number
    int32_t offset = 0;  // position of the data in the stream; the receiver checks its range
    uint32_t crc = 0;    // CRC-32 of the data
    Bytes data;
};

// The head of a block; the caller sends it followed directly by the data.
std::array<uint8_t, kStreamBlockHeadSize> BuildStreamBlockHead(int32_t target, int32_t offset,
                                                               uint32_t crc) noexcept;
// A whole block body with the CRC-32 of `data` computed here.
std::vector<uint8_t> BuildStreamBlock(int32_t target, int32_t offset, Bytes data);
std::optional<StreamBlock> ParseStreamBlock(Bytes body) noexcept;

// Stream end (163) {163, target, CRC of the whole stream or 0, cancel}.
struct StreamEnd {
    int32_t target = 0;
    uint32_t crc = 0;  // 0 = no check; then `cancel` tells cancel (non-zero) from failure
    int32_t cancel = 0;
};

std::array<uint8_t, kStreamEndSize> BuildStreamEnd(int32_t target, uint32_t crc,
                                                   int32_t cancel) noexcept;
std::optional<StreamEnd> ParseStreamEnd(Bytes body) noexcept;

// Stream acknowledgement (160) {160, stream id, ok, cancel}, in both directions: a
// receiving master names the stream id; the slave's own acknowledgements carry 0.
struct StreamAck {
    int32_t streamId = 0;
    int32_t ok = 0;
    int32_t cancel = 0;
};

std::array<uint8_t, kStreamAckSize> BuildStreamAck(int32_t streamId, int32_t ok,
                                                   int32_t cancel) noexcept;
// Rejects bodies shorter than 16 bytes (a shorter type-160 body is the goodbye).
std::optional<StreamAck> ParseStreamAck(Bytes body) noexcept;

// ---- Slave to master ------------------------------------------------------------------

// Job list {1, 0, text without terminator}.
std::vector<uint8_t> BuildJobList(TextView text);
// The text of a job list: the bytes after offset 8, up to the first zero character. In the
// Unicode build a trailing odd byte is ignored.
std::optional<Text> ParseJobList(Bytes body);

// Job count {3, n}, worker count {4, n} and ping echo {5, time stamp}.
std::array<uint8_t, kQuerySize> BuildJobCount(int32_t count) noexcept;
std::array<uint8_t, kQuerySize> BuildWorkerCount(int32_t count) noexcept;
std::array<uint8_t, kQuerySize> BuildPingEcho(int32_t timeStamp) noexcept;
std::optional<int32_t> ParseJobCount(Bytes body) noexcept;
std::optional<int32_t> ParseWorkerCount(Bytes body) noexcept;
std::optional<int32_t> ParsePingEcho(Bytes body) noexcept;

// Status notice {2, code, job id} (job id 0 for notices about the whole slave). Every type-2
// body starts this way, so this parser also reads the code and job id of results, messages
// and the missing relay target.
struct StatusNotice {
    int32_t code = 0;
    int32_t jobId = 0;
};

std::array<uint8_t, kStatusNoticeSize> BuildStatusNotice(int32_t code, int32_t jobId) noexcept;
std::optional<StatusNotice> ParseStatusNotice(Bytes body) noexcept;

// Job result (code 1) and job message (code 4): {2, code, job id, size, size bytes}.
struct JobPayload {
    int32_t code = 0;  // kStatusResult or kStatusMessage
    int32_t jobId = 0;
    Bytes data;
};

// The 16-byte head; the caller sends it followed directly by `size` payload bytes.
std::array<uint8_t, kJobPayloadHeadSize> BuildJobPayloadHead(int32_t code, int32_t jobId,
                                                             int32_t size) noexcept;
// A whole result or message body; empty when the payload is too large for a packet.
std::vector<uint8_t> BuildJobPayload(int32_t code, int32_t jobId, Bytes data);
// Rejects codes other than 1 and 4, a negative size and a size that runs past the body.
std::optional<JobPayload> ParseJobPayload(Bytes body) noexcept;

// Missing relay target {2, 0, 0, 1}.
std::array<uint8_t, kMissingRelayTargetSize> BuildMissingRelayTarget() noexcept;
bool IsMissingRelayTarget(Bytes body) noexcept;

// Goodbye: the single word 160. A type-160 body shorter than a stream acknowledgement is
// taken as the goodbye.
std::array<uint8_t, kGoodbyeSize> BuildGoodbye() noexcept;
bool IsGoodbye(Bytes body) noexcept;

}  // namespace orvex::protocol
