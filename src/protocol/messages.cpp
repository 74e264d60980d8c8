#include "protocol/messages.hpp"

#include <cstdint>

#include "core/crc32.hpp"

namespace orvex::protocol {
namespace {

// Largest body a builder produces: its length and the lengths the framing derives from it
// (packet size, compressed packet size) must stay within signed 32 bits.
constexpr size_t kMaxBodySize = INT32_MAX - 64;

template <size_t N>
std::array<uint8_t, 4 * N> Words(const int32_t (&words)[N]) noexcept {
    std::array<uint8_t, 4 * N> out;
    for (size_t i = 0; i < N; ++i) WriteLe32(out.data() + 4 * i, words[i]);
    return out;
}

// Word `index` of a body known to hold it.
int32_t Word(Bytes body, size_t index) noexcept {
    return ReadLe32(body.data() + 4 * index);
}

// True when the body holds at least `size` bytes and starts with `command`.
bool Holds(Bytes body, size_t size, int32_t command) noexcept {
    return body.size() >= size && Word(body, 0) == command;
}

std::optional<int32_t> SecondWord(Bytes body, int32_t command) noexcept {
    if (!Holds(body, kQuerySize, command)) return std::nullopt;
    return Word(body, 1);
}

// Text characters in the wire form: bytes, or UTF-16LE code units.
void WriteChars(uint8_t* out, TextView text) noexcept {
    if constexpr (sizeof(Char) == 1 || std::endian::native == std::endian::little) {
        if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(Char));
    } else {
        for (Char c : text) {
            *out++ = static_cast<uint8_t>(c);
            *out++ = static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8);
        }
    }
}

Char CharAt(const uint8_t* p) noexcept {
    if constexpr (sizeof(Char) == 1) {
        return static_cast<Char>(*p);
    } else {
        return static_cast<Char>(p[0] | p[1] << 8);
    }
}

// The characters of `bytes` up to the first zero character; a trailing partial character
// is ignored.
Text ReadChars(Bytes bytes) {
    const size_t count = bytes.size() / sizeof(Char);
    Text text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const Char c = CharAt(bytes.data() + i * sizeof(Char));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

}  // namespace

std::optional<int32_t> ReadCommand(Bytes body) noexcept {
    if (body.size() < 4) return std::nullopt;
    return Word(body, 0);
}

// ---- Master to slave ------------------------------------------------------------------

std::array<uint8_t, kQuerySize> BuildQuery(int32_t command) noexcept {
    return Words({command, 0});
}

std::optional<int32_t> ParseQuery(Bytes body) noexcept {
    if (body.size() < kQuerySize) return std::nullopt;
    const int32_t command = Word(body, 0);
    if (command != kCmdJobListQuery && command != kCmdJobCountQuery &&
        command != kCmdWorkerCountQuery) {
        return std::nullopt;
    }
    return command;
}

std::array<uint8_t, kQuerySize> BuildPing(int32_t timeStamp) noexcept {
    return Words({kCmdPing, timeStamp});
}

std::optional<int32_t> ParsePing(Bytes body) noexcept {
    return SecondWord(body, kCmdPing);
}

size_t JobRequestSize(TextView name, size_t paramsSize) noexcept {
    const size_t limit = kMaxBodySize - kJobRequestHeadSize;
    if (name.size() >= limit / sizeof(Char) || paramsSize > limit) return 0;
    const size_t nameField = (name.size() + 1) * sizeof(Char);
    if (nameField + paramsSize > limit) return 0;
    return kJobRequestHeadSize + nameField + paramsSize;
}

bool WriteJobRequest(std::span<uint8_t> out, const JobRequestHead& head, TextView name,
                     Bytes params) noexcept {
    const size_t size = JobRequestSize(name, params.size());
    if (size == 0 || out.size() != size) return false;
    const size_t nameField = (name.size() + 1) * sizeof(Char);
    uint8_t* p = out.data();
    WriteLe32(p, head.command);
    WriteLe32(p + 4, head.jobId);
    WriteLe32(p + 8, head.target);
    WriteLe32(p + 12, head.streamSize);
    WriteLe32(p + 16, head.priority);
    WriteLe32(p + 20, static_cast<int32_t>(nameField));
    p += kJobRequestHeadSize;
    WriteChars(p, name);
    std::memset(p + name.size() * sizeof(Char), 0, sizeof(Char));  // terminator
    p += nameField;
    if (!params.empty()) std::memcpy(p, params.data(), params.size());
    return true;
}

std::vector<uint8_t> BuildJobRequest(const JobRequestHead& head, TextView name, Bytes params) {
    std::vector<uint8_t> body(JobRequestSize(name, params.size()));
    if (!body.empty()) WriteJobRequest(body, head, name, params);
    return body;
}

std::optional<JobRequest> ParseJobRequest(Bytes body) {
    if (body.size() < kJobRequestHeadSize) return std::nullopt;
    JobRequest request;
    JobRequestHead& head = request.head;
    head.command = Word(body, 0);
    if (head.command != kCmdJobRequest && head.command != kCmdStreamJobRequest) {
        return std::nullopt;
    }
    head.jobId = Word(body, 1);
    head.target = Word(body, 2);
    head.streamSize = Word(body, 3);
    head.priority = Word(body, 4);
    if (head.command == kCmdStreamJobRequest && head.streamSize < 0) return std::nullopt;
    const int32_t nameField = Word(body, 5);
    if (nameField < kCharSize || nameField % kCharSize != 0) return std::nullopt;
    const size_t available = body.size() - kJobRequestHeadSize;
    const auto fieldSize = static_cast<size_t>(nameField);
    if (fieldSize > available) return std::nullopt;
    request.name = ReadChars(body.subspan(kJobRequestHeadSize, fieldSize));
    request.params = body.subspan(kJobRequestHeadSize + fieldSize);
    return request;
}

std::array<uint8_t, kStreamBlockHeadSize> BuildStreamBlockHead(int32_t target, int32_t offset,
                                                               uint32_t crc) noexcept {
    return Words({kCmdStreamBlock, target, offset, static_cast<int32_t>(crc)});
}

std::vector<uint8_t> BuildStreamBlock(int32_t target, int32_t offset, Bytes data) {
    if (data.size() > kMaxBodySize - kStreamBlockHeadSize) return {};
    const auto head = BuildStreamBlockHead(target, offset, Crc32(data.data(), data.size()));
    std::vector<uint8_t> body(kStreamBlockHeadSize + data.size());
    std::memcpy(body.data(), head.data(), head.size());
    if (!data.empty()) std::memcpy(body.data() + kStreamBlockHeadSize, data.data(), data.size());
    return body;
}

std::optional<StreamBlock> ParseStreamBlock(Bytes body) noexcept {
    if (!Holds(body, kStreamBlockHeadSize, kCmdStreamBlock)) return std::nullopt;
    return StreamBlock{Word(body, 1), Word(body, 2), static_cast<uint32_t>(Word(body, 3)),
                       body.subspan(kStreamBlockHeadSize)};
}

std::array<uint8_t, kStreamEndSize> BuildStreamEnd(int32_t target, uint32_t crc,
                                                   int32_t cancel) noexcept {
    return Words({kCmdStreamEnd, target, static_cast<int32_t>(crc), cancel});
}

std::optional<StreamEnd> ParseStreamEnd(Bytes body) noexcept {
    if (!Holds(body, kStreamEndSize, kCmdStreamEnd)) return std::nullopt;
    return StreamEnd{Word(body, 1), static_cast<uint32_t>(Word(body, 2)), Word(body, 3)};
}

std::array<uint8_t, kStreamAckSize> BuildStreamAck(int32_t streamId, int32_t ok,
                                                   int32_t cancel) noexcept {
    return Words({kCmdStreamAck, streamId, ok, cancel});
}

std::optional<StreamAck> ParseStreamAck(Bytes body) noexcept {
    if (!Holds(body, kStreamAckSize, kCmdStreamAck)) return std::nullopt;
    return StreamAck{Word(body, 1), Word(body, 2), Word(body, 3)};
}

// ---- Slave to master ------------------------------------------------------------------

std::vector<uint8_t> BuildJobList(TextView text) {
    if (text.size() > (kMaxBodySize - kJobListHeadSize) / sizeof(Char)) return {};
    std::vector<uint8_t> body(kJobListHeadSize + text.size() * sizeof(Char));
    WriteLe32(body.data(), kTypeJobList);
    WriteLe32(body.data() + 4, 0);
    WriteChars(body.data() + kJobListHeadSize, text);
    return body;
}

std::optional<Text> ParseJobList(Bytes body) {
    if (!Holds(body, kJobListHeadSize, kTypeJobList)) return std::nullopt;
    return ReadChars(body.subspan(kJobListHeadSize));
}

std::array<uint8_t, kQuerySize> BuildJobCount(int32_t count) noexcept {
    return Words({kTypeJobCount, count});
}

std::array<uint8_t, kQuerySize> BuildWorkerCount(int32_t count) noexcept {
    return Words({kTypeWorkerCount, count});
}

std::array<uint8_t, kQuerySize> BuildPingEcho(int32_t timeStamp) noexcept {
    return Words({kTypePingEcho, timeStamp});
}

std::optional<int32_t> ParseJobCount(Bytes body) noexcept {
    return SecondWord(body, kTypeJobCount);
}

std::optional<int32_t> ParseWorkerCount(Bytes body) noexcept {
    return SecondWord(body, kTypeWorkerCount);
}

std::optional<int32_t> ParsePingEcho(Bytes body) noexcept {
    return SecondWord(body, kTypePingEcho);
}

std::array<uint8_t, kStatusNoticeSize> BuildStatusNotice(int32_t code, int32_t jobId) noexcept {
    return Words({kTypeStatus, code, jobId});
}

std::optional<StatusNotice> ParseStatusNotice(Bytes body) noexcept {
    if (!Holds(body, kStatusNoticeSize, kTypeStatus)) return std::nullopt;
    return StatusNotice{Word(body, 1), Word(body, 2)};
}

std::array<uint8_t, kJobPayloadHeadSize> BuildJobPayloadHead(int32_t code, int32_t jobId,
                                                             int32_t size) noexcept {
    return Words({kTypeStatus, code, jobId, size});
}

std::vector<uint8_t> BuildJobPayload(int32_t code, int32_t jobId, Bytes data) {
    if (data.size() > kMaxBodySize - kJobPayloadHeadSize) return {};
    const auto head = BuildJobPayloadHead(code, jobId, static_cast<int32_t>(data.size()));
    std::vector<uint8_t> body(kJobPayloadHeadSize + data.size());
    std::memcpy(body.data(), head.data(), head.size());
    if (!data.empty()) std::memcpy(body.data() + kJobPayloadHeadSize, data.data(), data.size());
    return body;
}

std::optional<JobPayload> ParseJobPayload(Bytes body) noexcept {
    if (!Holds(body, kJobPayloadHeadSize, kTypeStatus)) return std::nullopt;
    const int32_t code = Word(body, 1);
    if (code != kStatusResult && code != kStatusMessage) return std::nullopt;
    const int32_t size = Word(body, 3);
    if (size < 0 || static_cast<size_t>(size) > body.size() - kJobPayloadHeadSize) {
        return std::nullopt;
    }
    return JobPayload{code, Word(body, 2),
                      body.subspan(kJobPayloadHeadSize, static_cast<size_t>(size))};
}

std::array<uint8_t, kMissingRelayTargetSize> BuildMissingRelayTarget() noexcept {
    return Words({kTypeStatus, kStatusNone, 0, 1});
}

bool IsMissingRelayTarget(Bytes body) noexcept {
    return Holds(body, kMissingRelayTargetSize, kTypeStatus) && Word(body, 1) == kStatusNone &&
           Word(body, 2) == 0 && Word(body, 3) == 1;
}

std::array<uint8_t, kGoodbyeSize> BuildGoodbye() noexcept {
    return Words({kTypeStreamAck});
}

bool IsGoodbye(Bytes body) noexcept {
    return Holds(body, kGoodbyeSize, kTypeStreamAck) && body.size() < kStreamAckSize;
}

}  // namespace orvex::protocol
