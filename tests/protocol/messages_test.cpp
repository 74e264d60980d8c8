#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/crc32.hpp"
#include "core/text.hpp"
#include "protocol/messages.hpp"

namespace orvex::protocol {
namespace {

using ByteVector = std::vector<uint8_t>;

// Little-endian bytes of the given words, followed by `tail`.
ByteVector Le(std::initializer_list<int64_t> words, ByteVector tail = {}) {
    ByteVector out;
    for (int64_t w : words) {
        const auto u = static_cast<uint32_t>(w);
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(u >> shift));
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

ByteVector operator+(ByteVector a, const ByteVector& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <typename Container>
ByteVector Vec(const Container& c) {
    return ByteVector(c.begin(), c.end());
}

// The wire bytes of an ASCII text in this build, with or without the terminator.
ByteVector TextBytes(const std::string& ascii, bool terminator) {
    ByteVector out;
    for (char c : ascii) {
        out.push_back(static_cast<uint8_t>(c));
        if (kCharSize == 2) out.push_back(0);
    }
    if (terminator) out.insert(out.end(), static_cast<size_t>(kCharSize), 0);
    return out;
}

TEST(Messages, ByteOrderHelpersAreLittleEndianAtAnyAlignment) {
    uint8_t buffer[7] = {};
    WriteLe32(buffer + 1, int32_t{0x11223344});
    EXPECT_EQ(Vec(std::span(buffer + 1, 4)), (ByteVector{0x44, 0x33, 0x22, 0x11}));
    WriteLe32(buffer + 3, int32_t{-2});
    EXPECT_EQ(ReadLe32(buffer + 3), -2);
    EXPECT_EQ(ReadLeU32(buffer + 3), 0xFFFFFFFEu);
}

TEST(Messages, FixedLayoutsAreByteExact) {
    struct Case {
        const char* name;
        ByteVector built;
        ByteVector expected;
    };
    const Case cases[] = {
        {"job list query", Vec(BuildQuery(kCmdJobListQuery)), Le({1, 0})},
        {"job count query", Vec(BuildQuery(kCmdJobCountQuery)), Le({3, 0})},
        {"worker count query", Vec(BuildQuery(kCmdWorkerCountQuery)), Le({4, 0})},
        {"ping", Vec(BuildPing(12345)), Le({5, 12345})},
        {"stream ack", Vec(BuildStreamAck(7, 1, 0)), Le({160, 7, 1, 0})},
        {"stream block head", Vec(BuildStreamBlockHead(2, 1024, 0xCBF43926u)),
         Le({162, 2, 1024, 0xCBF43926})},
        {"stream end", Vec(BuildStreamEnd(0, 0xDEADBEEFu, 1)), Le({163, 0, 0xDEADBEEF, 1})},
        {"job count", Vec(BuildJobCount(42)), Le({3, 42})},
        {"worker count", Vec(BuildWorkerCount(32)), Le({4, 32})},
        {"ping echo", Vec(BuildPingEcho(12345)), Le({5, 12345})},
        {"status started", Vec(BuildStatusNotice(kStatusStarted, 9)), Le({2, 2, 9})},
        {"status queued", Vec(BuildStatusNotice(kStatusQueued, 9)), Le({2, 3, 9})},
        {"status removed", Vec(BuildStatusNotice(kStatusRemoved, 0)), Le({2, 163, 0})},
        {"status receive failed", Vec(BuildStatusNotice(kStatusReceiveFailed, 0)), Le({2, 255, 0})},
        {"slave's own ack", Vec(BuildStreamAck(0, 0, 1)), Le({160, 0, 0, 1})},
        {"result head", Vec(BuildJobPayloadHead(kStatusResult, 3, 0)), Le({2, 1, 3, 0})},
        {"missing relay target", Vec(BuildMissingRelayTarget()), Le({2, 0, 0, 1})},
        {"goodbye", Vec(BuildGoodbye()), Le({160})},
        {"stream block",
         BuildStreamBlock(1, 2048, ByteVector{'1', '2', '3', '4', '5', '6', '7', '8', '9'}),
         Le({162, 1, 2048, 0xCBF43926}, {'1', '2', '3', '4', '5', '6', '7', '8', '9'})},
        {"integer result", BuildJobPayload(kStatusResult, 17, Le({0x01020304})),
         Le({2, 1, 17, 4, 0x01020304})},
        {"empty result", BuildJobPayload(kStatusResult, 17, {}), Le({2, 1, 17, 0})},
        {"job message", BuildJobPayload(kStatusMessage, 5, ByteVector{0xAA, 0xBB}),
         Le({2, 4, 5, 2}, {0xAA, 0xBB})},
    };
    for (const Case& c : cases) EXPECT_EQ(c.built, c.expected) << c.name;
}

TEST(Messages, CrcTextRequestWithEmptyParameterBlock) {
    const ByteVector emptyBlock = Le({0});
    JobRequestHead head;
    head.jobId = 12;
    head.priority = 1;
    const ByteVector body = BuildJobRequest(head, FromAscii("CRC_Text"), emptyBlock);
    const int32_t n = kCharSize == 1 ? 9 : 18;
    EXPECT_EQ(body, Le({2, 12, 0, 0, 1, n}, TextBytes("CRC_Text", true)) + emptyBlock);
    ASSERT_EQ(body.size(), 24u + static_cast<size_t>(n) + 4u);

    const auto parsed = ParseJobRequest(body);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->head.command, kCmdJobRequest);
    EXPECT_EQ(parsed->head.jobId, 12);
    EXPECT_EQ(parsed->head.priority, 1);
    EXPECT_EQ(parsed->name, FromAscii("CRC_Text"));
    EXPECT_EQ(Vec(parsed->params), emptyBlock);
}

TEST(Messages, StreamJobRequestRoundTripAndInPlaceWrite) {
    JobRequestHead head{kCmdStreamJobRequest, 4, 2, 1048576, 3};
    const ByteVector params = Le({1, 4, 7});
    const Text name = FromAscii("Upload");
    const size_t size = JobRequestSize(name, params.size());
    ASSERT_EQ(size, 24u + 7u * static_cast<size_t>(kCharSize) + params.size());

    ByteVector packet(8 + size, 0xEE);  // room for a packet header in front
    EXPECT_FALSE(WriteJobRequest(std::span(packet).subspan(8, size - 1), head, name, params));
    ASSERT_TRUE(WriteJobRequest(std::span(packet).subspan(8), head, name, params));
    EXPECT_EQ(packet[7], 0xEE);  // nothing written before the body
    const auto parsed = ParseJobRequest(std::span(packet).subspan(8));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->head.command, kCmdStreamJobRequest);
    EXPECT_EQ(parsed->head.target, 2);
    EXPECT_EQ(parsed->head.streamSize, 1048576);
    EXPECT_EQ(parsed->head.priority, 3);
    EXPECT_EQ(parsed->name, name);
    EXPECT_EQ(Vec(parsed->params), params);
}

TEST(Messages, JobRequestNameStopsAtFirstZeroCharacter) {
    // Name field of three characters "ab\0" followed by a stray character, then the block.
    ByteVector field = TextBytes("ab", true);
    const ByteVector stray = TextBytes("x", false);
    field.insert(field.end(), stray.begin(), stray.end());
    const auto body = Le({2, 1, 0, 0, 0, static_cast<int64_t>(field.size())}, field) + Le({0});
    const auto parsed = ParseJobRequest(body);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, FromAscii("ab"));
    EXPECT_EQ(Vec(parsed->params), Le({0}));
}

TEST(Messages, QueryRepliesAndNoticesParse) {
    EXPECT_EQ(ParsePing(BuildPing(12345)), 12345);
    EXPECT_EQ(ParsePingEcho(BuildPingEcho(12345)), 12345);
    EXPECT_EQ(ParseJobCount(BuildJobCount(-1)), -1);
    EXPECT_EQ(ParseWorkerCount(BuildWorkerCount(32)), 32);
    EXPECT_EQ(ParseQuery(BuildQuery(kCmdWorkerCountQuery)), kCmdWorkerCountQuery);
    EXPECT_EQ(ReadCommand(BuildGoodbye()), kTypeStreamAck);

    const auto notice = ParseStatusNotice(BuildStatusNotice(kStatusAccessDenied, 77));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->code, kStatusAccessDenied);
    EXPECT_EQ(notice->jobId, 77);

    const auto result = BuildJobPayload(kStatusResult, 77, Le({1234}));
    EXPECT_EQ(result.size(), 20u);
    const auto payload = ParseJobPayload(result);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->code, kStatusResult);
    EXPECT_EQ(payload->jobId, 77);
    EXPECT_EQ(Vec(payload->data), Le({1234}));
    EXPECT_EQ(ParseStatusNotice(result)->jobId, 77);  // every type-2 body has the job id at 8

    const ByteVector blockBody = BuildStreamBlock(3, 4096, ByteVector{1, 2, 3});
    const auto block = ParseStreamBlock(blockBody);  // its data span points into blockBody
    ASSERT_TRUE(block);
    EXPECT_EQ(block->target, 3);
    EXPECT_EQ(block->offset, 4096);
    EXPECT_EQ(block->crc, Crc32("\x01\x02\x03", 3));
    EXPECT_EQ(Vec(block->data), (ByteVector{1, 2, 3}));

    const auto end = ParseStreamEnd(BuildStreamEnd(5, 0x80000001u, 0));
    ASSERT_TRUE(end);
    EXPECT_EQ(end->target, 5);
    EXPECT_EQ(end->crc, 0x80000001u);
    EXPECT_EQ(end->cancel, 0);

    const auto ack = ParseStreamAck(BuildStreamAck(2, 0, 1));
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->streamId, 2);
    EXPECT_EQ(ack->ok, 0);
    EXPECT_EQ(ack->cancel, 1);

    EXPECT_TRUE(IsGoodbye(BuildGoodbye()));
    EXPECT_FALSE(IsGoodbye(BuildStreamAck(0, 1, 0)));  // told apart by length alone
    EXPECT_TRUE(IsMissingRelayTarget(BuildMissingRelayTarget()));
    EXPECT_FALSE(IsMissingRelayTarget(BuildJobPayloadHead(kStatusResult, 0, 1)));
}

TEST(Messages, JobListCarriesTextWithoutTerminator) {
    const Text text = FromAscii("Currently no jobs avaible");
    const ByteVector body = BuildJobList(text);
    EXPECT_EQ(body.size(), 8u + 25u * static_cast<size_t>(kCharSize));  // 50 text bytes in Unicode
    EXPECT_EQ(body, Le({1, 0}, TextBytes("Currently no jobs avaible", false)));
    EXPECT_EQ(ParseJobList(body), text);

    // A terminator inside the text ends it; an empty list text is valid.
    EXPECT_EQ(ParseJobList(Le({1, 0}, TextBytes("ab", true) + TextBytes("cd", false))),
              FromAscii("ab"));
    EXPECT_EQ(ParseJobList(Le({1, 0})), Text());
}

TEST(Messages, TruncatedAndHostileBodiesAreRejected) {
    const ByteVector name = TextBytes("Job", true);
    const auto n = static_cast<int64_t>(name.size());
    struct Case {
        const char* what;
        ByteVector body;
    };
    const Case jobRequests[] = {
        {"empty", {}},
        {"head cut short", Le({2, 1, 0, 0, 0})},
        {"wrong command", Le({3, 1, 0, 0, 0, n}, name)},
        {"name field size zero", Le({2, 1, 0, 0, 0, 0}, name)},
        {"negative name field size", Le({2, 1, 0, 0, 0, -4}, name)},
        {"name field past the body", Le({2, 1, 0, 0, 0, n + kCharSize}, name)},
        {"huge name field", Le({2, 1, 0, 0, 0, 0x7FFFFFFF}, name)},
        {"negative stream size", Le({161, 1, 0, -1, 0, n}, name)},
#ifdef ORVEX_UNICODE
        {"odd name field size", Le({2, 1, 0, 0, 0, 3}, name)},
        {"name field of one byte", Le({2, 1, 0, 0, 0, 1}, name)},
#endif
    };
    for (const Case& c : jobRequests) EXPECT_FALSE(ParseJobRequest(c.body)) << c.what;

    const Case payloads[] = {
        {"header only", Le({2, 1, 3})},
        {"size past the body", Le({2, 1, 3, 5}, {1, 2, 3, 4})},
        {"negative size", Le({2, 1, 3, -1}, {1, 2, 3, 4})},
        {"minimum size", Le({2, 4, 3, INT32_MIN})},
        {"code not a payload", Le({2, 3, 3, 0})},
    };
    for (const Case& c : payloads) EXPECT_FALSE(ParseJobPayload(c.body)) << c.what;

    EXPECT_FALSE(ReadCommand(ByteVector{2, 0, 0}));
    EXPECT_FALSE(ParseStatusNotice(Le({2, 3})));
    EXPECT_FALSE(ParseStreamBlock(Le({162, 0, 0})));
    EXPECT_FALSE(ParseStreamEnd(Le({163, 0, 0})));
    EXPECT_FALSE(ParseStreamAck(Le({160, 0, 1})));
    EXPECT_FALSE(ParseStreamAck(Le({160})));
    EXPECT_FALSE(ParsePing(Le({5})));
    EXPECT_FALSE(ParsePingEcho(ByteVector{5, 0, 0, 0, 1, 0, 0}));
    EXPECT_FALSE(ParseJobCount(Le({3})));
    EXPECT_FALSE(ParseWorkerCount(Le({4})));
    EXPECT_FALSE(ParseQuery(Le({1})));
    EXPECT_FALSE(ParseQuery(Le({5, 0})));  // a ping is not a query
    EXPECT_FALSE(ParseJobList(Le({1})));
    EXPECT_FALSE(IsMissingRelayTarget(Le({2, 0, 0})));
    EXPECT_FALSE(IsGoodbye(ByteVector{160, 0}));
    // Word 0 decides: a parser never accepts another message's body.
    EXPECT_FALSE(ParseJobCount(BuildWorkerCount(1)));
    EXPECT_FALSE(ParseStreamEnd(BuildStreamAck(0, 1, 0)));
}

TEST(Messages, RequestSizeRefusesBodiesTooLargeForAPacket) {
    const Text name = FromAscii("Job");
    EXPECT_EQ(JobRequestSize(name, size_t{INT32_MAX}), 0u);
    EXPECT_EQ(JobRequestSize(name, SIZE_MAX), 0u);
    EXPECT_EQ(JobRequestSize(name, 1000), 24u + 4u * static_cast<size_t>(kCharSize) + 1000u);
}

}  // namespace
}  // namespace orvex::protocol
