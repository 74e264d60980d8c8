#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "protocol/framing.hpp"
#include "support/loopback.hpp"

namespace orvex::protocol {
namespace {

using test::Frame;
using test::LoopbackPair;
using test::Words;

// Records what a batch hands to its owner.
class Recorder : public BatchOwner {
public:
    void OnBatchStart(int32_t peer) override { events.push_back("start " + std::to_string(peer)); }
    void OnBatchEnd(int32_t peer) override { events.push_back("end " + std::to_string(peer)); }
    void Dispatch(int32_t, std::span<uint8_t> body) override {
        bodies.emplace_back(body.begin(), body.end());
    }
    void OnReceiveError(int32_t peer) override { events.push_back("error " + std::to_string(peer)); }

    std::vector<std::vector<uint8_t>> bodies;
    std::vector<std::string> events;
};

std::vector<uint8_t> Bytes(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return out;
}

// What arrives on the wire when `body` is sent with these settings.
std::vector<uint8_t> Wire(const std::vector<uint8_t>& body, CompressionSettings settings) {
    LoopbackPair pair;
    RecursiveMutex lock;
    const SendResult sent = SendPacket(pair.client, lock, settings, body);
    EXPECT_GT(sent.result, 0);
    std::vector<uint8_t> header = test::ReadExactly(pair.server, 8);
    const int32_t length = ReadWord(header.data() + 4);
    std::vector<uint8_t> rest = test::ReadExactly(pair.server, static_cast<size_t>(length));
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
}

TEST(SendPacket, PlainFramingAndTheCompressionRule) {
    // A 4-byte body travels as a 12-byte packet.
    EXPECT_EQ(Wire(Words({160}), {}), (std::vector<uint8_t>{'X', 'V', 'R', 'O', 4, 0, 0, 0, 160, 0, 0, 0}));

    const struct {
        size_t bodySize;
        CompressionSettings settings;
        bool compressed;
    } cases[] = {
        {99, {100, 6}, false}, {100, {100, 6}, true},  {5000, {0, 6}, false},
        {5000, {100, 0}, false}, {4, {4, 9}, true},    {100000, {1, 1}, true},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> body = Bytes(c.bodySize);
        const std::vector<uint8_t> wire = Wire(body, c.settings);
        ASSERT_GE(wire.size(), 12u);
        const bool compressed = ReadWord(wire.data() + 8) == kCompressedMarker;
        EXPECT_EQ(compressed, c.compressed) << c.bodySize << " " << c.settings.threshold;
        if (!compressed) {
            EXPECT_EQ(std::vector<uint8_t>(wire.begin() + 8, wire.end()), body);
            continue;
        }
        // bodyLength = C + 8; plainSize = body + 8; the zlib data is the whole plain packet.
        EXPECT_EQ(ReadWord(wire.data() + 4), static_cast<int32_t>(wire.size() - 8));
        EXPECT_EQ(ReadWord(wire.data() + 12), static_cast<int32_t>(c.bodySize + 8));
        std::vector<uint8_t> plain(c.bodySize + 8);
        uLongf plainLength = plain.size();
        ASSERT_EQ(uncompress(plain.data(), &plainLength, wire.data() + 16, wire.size() - 16), Z_OK);
        EXPECT_EQ(plainLength, plain.size());
        EXPECT_EQ(plain, Frame(body));
    }
}

TEST(SendPacket, HeadAndTailMakeOneBodyAndAClosedPeerFails) {
    LoopbackPair pair;
    RecursiveMutex lock;
    const std::vector<uint8_t> head = Words({162, 0, 0, 0});
    const std::vector<uint8_t> tail = Bytes(3000);
    for (CompressionSettings settings : {CompressionSettings{}, CompressionSettings{1, 6}}) {
        ASSERT_GT(SendPacket(pair.client, lock, settings, head, tail).result, 0);
        Recorder recorder;
        EXPECT_EQ(RunReceiveBatch(pair.server, 3, 1000, recorder), BatchEnd::kComplete);
        ASSERT_EQ(recorder.bodies.size(), 1u);
        std::vector<uint8_t> expected = head;
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(recorder.bodies[0], expected);
    }
    net::Close(pair.server);
    pair.server = net::kInvalidHandle;
    // The first write after the peer vanished may still be accepted; a later one fails.
    int32_t result = 0;
    for (int i = 0; i < 50 && result != -1; ++i) result = SendPacket(pair.client, lock, {}, head).result;
    EXPECT_EQ(result, -1);
}

TEST(ReceiveBatch, TwoPacketsInOneReadAreDispatchedInOrder) {
    LoopbackPair pair;
    std::vector<uint8_t> wire = Frame(Words({5, 12345}));
    const std::vector<uint8_t> second = Frame(Words({1, 0}));
    wire.insert(wire.end(), second.begin(), second.end());
    ASSERT_TRUE(test::WriteAll(pair.client, wire));
    ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
    Recorder recorder;
    EXPECT_EQ(RunReceiveBatch(pair.server, 7, kDefaultReceiveBlockSize, recorder), BatchEnd::kComplete);
    EXPECT_EQ(recorder.bodies, (std::vector<std::vector<uint8_t>>{Words({5, 12345}), Words({1, 0})}));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 7", "end 7"}));
}

TEST(ReceiveBatch, LargeBodyWithSmallBlocksIsDispatchedOnce) {
    LoopbackPair pair;
    const std::vector<uint8_t> body = Bytes(1000000, 9);
    const std::vector<uint8_t> wire = Frame(body);
    std::thread writer([&] { test::WriteAll(pair.client, wire); });
    ASSERT_FALSE(test::NothingArrives(pair.server, 2000));
    Recorder recorder;
    EXPECT_EQ(RunReceiveBatch(pair.server, 1, 1000, recorder), BatchEnd::kComplete);
    writer.join();
    ASSERT_EQ(recorder.bodies.size(), 1u);
    EXPECT_EQ(recorder.bodies[0], body);
}

TEST(ReceiveBatch, MissingBodyIsAReceiveErrorAfterTheWaits) {
    LoopbackPair pair;
    std::vector<uint8_t> wire = Frame(Words({5, 1}));
    wire.resize(10);  // header and 2 of 8 body bytes
    ASSERT_TRUE(test::WriteAll(pair.client, wire));
    ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
    Recorder recorder;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunReceiveBatch(pair.server, 2, 1000, recorder), BatchEnd::kReceiveError);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kLateByteWaits * kLateByteWaitMs - 8));
    EXPECT_LT(waited, std::chrono::seconds(2));
    EXPECT_TRUE(recorder.bodies.empty());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 2", "error 2", "end 2"}));

    // A header cut short is a receive error too.
    ASSERT_TRUE(test::WriteAll(pair.client, std::vector<uint8_t>{'X', 'V', 'R'}));
    ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
    Recorder second;
    EXPECT_EQ(RunReceiveBatch(pair.server, 2, 1000, second), BatchEnd::kReceiveError);
}

TEST(ReceiveBatch, LateBytesCompleteAPacket) {
    LoopbackPair pair;
    const std::vector<uint8_t> wire = Frame(Words({5, 77}));
    ASSERT_TRUE(test::WriteAll(pair.client, std::span(wire).first(6)));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        test::WriteAll(pair.client, std::span(wire).subspan(6));
    });
    ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
    Recorder recorder;
    EXPECT_EQ(RunReceiveBatch(pair.server, 1, 1000, recorder), BatchEnd::kComplete);
    late.join();
    EXPECT_EQ(recorder.bodies, (std::vector<std::vector<uint8_t>>{Words({5, 77})}));
}

TEST(ReceiveBatch, BadPacketsEndTheBatchQuietly) {
    const std::vector<uint8_t> good = Frame(Words({5, 1}));
    const struct {
        const char* name;
        std::vector<uint8_t> wire;
    } cases[] = {
        {"stray bytes", {1, 2, 3, 4}},
        {"wrong magic", Words({0x4F525659, 4, 5})},
        {"body length 0", Words({0x4F525658, 0})},
        {"body length 3", Words({0x4F525658, 3, 0})},
        {"negative body length", Words({0x4F525658, -4, 5})},
        {"absurd body length", Words({0x4F525658, kMaxBodyLength + 1, 5})},
    };
    for (const auto& c : cases) {
        LoopbackPair pair;
        std::vector<uint8_t> wire = good;
        wire.insert(wire.end(), c.wire.begin(), c.wire.end());
        wire.insert(wire.end(), good.begin(), good.end());  // dropped with the rest
        ASSERT_TRUE(test::WriteAll(pair.client, wire));
        ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
        Recorder recorder;
        EXPECT_EQ(RunReceiveBatch(pair.server, 1, kDefaultReceiveBlockSize, recorder),
                  BatchEnd::kBadPacket)
            << c.name;
        EXPECT_EQ(recorder.bodies.size(), 1u) << c.name;
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 1", "end 1"})) << c.name;
    }
}

TEST(ReceiveBatch, CompressedBodiesInflateOrArriveAsCommand255) {
    const std::vector<uint8_t> body = Bytes(5000, 3);
    std::vector<uint8_t> plain = Frame(body);
    std::vector<uint8_t> zdata(compressBound(plain.size()));
    uLongf zlength = zdata.size();
    ASSERT_EQ(compress2(zdata.data(), &zlength, plain.data(), plain.size(), 6), Z_OK);
    zdata.resize(zlength);
    const auto compressedBody = [&](int32_t plainSize, std::vector<uint8_t> data) {
        std::vector<uint8_t> out = Words({255, plainSize});
        out.insert(out.end(), data.begin(), data.end());
        return out;
    };
    std::vector<uint8_t> damaged = zdata;
    damaged[damaged.size() / 2] ^= 0x5A;
    damaged[3] ^= 0xFF;
    const struct {
        const char* name;
        std::vector<uint8_t> body;
        bool inflates;
    } cases[] = {
        {"good", compressedBody(static_cast<int32_t>(plain.size()), zdata), true},
        {"damaged zlib data", compressedBody(static_cast<int32_t>(plain.size()), damaged), false},
        {"plainSize too large", compressedBody(static_cast<int32_t>(plain.size() + 1), zdata), false},
        {"plainSize too small", compressedBody(static_cast<int32_t>(plain.size() - 1), zdata), false},
        {"absurd plainSize", compressedBody(INT32_MAX, zdata), false},
        {"negative plainSize", compressedBody(-1, zdata), false},
        {"marker only", Words({255}), false},
    };
    for (const auto& c : cases) {
        LoopbackPair pair;
        ASSERT_TRUE(test::WriteAll(pair.client, Frame(c.body)));
        ASSERT_FALSE(test::NothingArrives(pair.server, 1000));
        Recorder recorder;
        EXPECT_EQ(RunReceiveBatch(pair.server, 1, kDefaultReceiveBlockSize, recorder),
                  BatchEnd::kComplete)
            << c.name;
        ASSERT_EQ(recorder.bodies.size(), 1u) << c.name;
        EXPECT_EQ(recorder.bodies[0], c.inflates ? body : c.body) << c.name;
    }
}

}  // namespace
}  // namespace orvex::protocol
