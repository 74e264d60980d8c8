// Streams for jobs on the slave, and streams relayed between two masters.
#include <algorithm>

#include "core/crc32.hpp"
#include "slave/slave_fixture.hpp"

namespace orvex::test {
namespace {

Body Pattern(size_t size) {
    Body data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    return data;
}

int32_t CrcOf(std::span<const uint8_t> data) {
    return static_cast<int32_t>(Crc32(data.data(), data.size()));
}

Body Block(int32_t target, int32_t offset, std::span<const uint8_t> data, int32_t crc) {
    Body body = Words({162, target, offset, crc});
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

Body Block(int32_t target, int32_t offset, std::span<const uint8_t> data) {
    return Block(target, offset, data, CrcOf(data));
}

class SlaveStreams : public SlaveTest {
  protected:
    // Starts a stream job of `size` bytes and reads its acknowledgement and notices; the job
    // then waits for the gate.
    RawPeer StartStreamJob(int32_t jobId, int32_t size) {
        RegisterJobs();
        Probe().gateOpen = false;
        RawPeer peer = Connect();
        EXPECT_TRUE(peer.SendBody(StreamJobBody(jobId, "Stream", 0, size)));
        EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
        EXPECT_EQ(Next(peer), Words({2, 3, jobId}));
        EXPECT_EQ(Next(peer), Words({2, 2, jobId}));
        EXPECT_TRUE(Probe().WaitRunning(1));
        return peer;
    }
    // Lets the job finish and returns the state it saw.
    int32_t FinishJob(RawPeer& peer, int32_t jobId) {
        Probe().OpenGate();
        const Body result = Next(peer);
        EXPECT_EQ(result.size(), 20u);
        EXPECT_EQ(Body(result.begin(), result.begin() + 12), Words({2, 1, jobId}));
        return result.size() == 20 ? protocol::ReadLe32(result.data() + 16) : -1;
    }
};

TEST_F(SlaveStreams, BlocksAreCheckedStoredAndTheEndVerified) {
    RawPeer peer = StartStreamJob(21, 3000);
    const Body data = Pattern(3000);
    const std::span<const uint8_t> all(data);
    // A block with a wrong CRC is refused and not stored; sent again it is taken.
    ASSERT_TRUE(peer.SendBody(Block(0, 0, all.subspan(0, 1000), 12345)));
    EXPECT_EQ(Next(peer), Words({160, 0, 0, 0}));
    for (int32_t offset = 0; offset < 3000; offset += 1000) {
        ASSERT_TRUE(peer.SendBody(Block(0, offset, all.subspan(offset, 1000))));
        EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    }
    ASSERT_TRUE(peer.SendBody(Words({163, 0, CrcOf(all), 0})));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(FinishJob(peer, 21), kStreamComplete);
    EXPECT_EQ(Probe().streamReceived, 3000);
    EXPECT_EQ(static_cast<int32_t>(Probe().streamCrc), CrcOf(all));
    EXPECT_EQ(Slave::FromHandle(slave)->OpenStreams(), 0);  // the job freed it
}

// The stream end is verified against the whole buffer however the blocks came: in order
// (the slave keeps a running CRC), out of order, stored twice, or leaving a zero tail; small
// streams and large ones (mapped on their own and populated ahead of the blocks) alike.
TEST_F(SlaveStreams, TheEndCrcCoversTheWholeBufferWhateverTheBlockOrder) {
    enum Order { kInOrder, kReversed, kRepeated, kShortOfTheEnd };
    const struct {
        int32_t size;
        int32_t block;
        Order order;
    } cases[] = {{3000, 1000, kInOrder},
                 {3000, 1000, kReversed},
                 {3000, 1000, kRepeated},
                 {3000, 1000, kShortOfTheEnd},
                 {9 << 20, 1 << 20, kInOrder},
                 {9 << 20, 1 << 20, kReversed},
                 {(9 << 20) + 5, 1 << 20, kShortOfTheEnd}};
    int32_t jobId = 50;
    for (const auto& c : cases) {
        for (const bool rightCrc : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.size << " order " << c.order << " " << rightCrc);
            RawPeer peer = StartStreamJob(++jobId, c.size);
            Body data = Pattern(static_cast<size_t>(c.size));
            const int32_t sent = c.order == kShortOfTheEnd ? c.size - 7 : c.size;
            std::fill(data.begin() + sent, data.end(), 0);  // what the buffer holds unsent
            std::vector<int32_t> offsets;
            for (int32_t offset = 0; offset < sent; offset += c.block) offsets.push_back(offset);
            if (c.order == kReversed) std::reverse(offsets.begin(), offsets.end());
            if (c.order == kRepeated) offsets.insert(offsets.begin() + 2, 0);
            const std::span<const uint8_t> all(data);
            for (const int32_t offset : offsets) {
                const auto length = static_cast<size_t>(std::min(c.block, sent - offset));
                ASSERT_TRUE(peer.SendBody(Block(0, offset, all.subspan(offset, length))));
                ASSERT_EQ(Next(peer), Words({160, 0, 1, 0}));
            }
            ASSERT_TRUE(peer.SendBody(Words({163, 0, CrcOf(all) + (rightCrc ? 0 : 1), 0})));
            EXPECT_EQ(Next(peer), Words({160, 0, rightCrc ? 1 : 0, 0}));
            EXPECT_EQ(FinishJob(peer, jobId), rightCrc ? kStreamComplete : kStreamFailed);
            EXPECT_EQ(static_cast<int32_t>(Probe().streamCrc), CrcOf(all));
        }
    }
}

// A large stream that is abandoned mid-way and one still arriving at DeInit: the buffer is
// populated ahead of the blocks by another thread, which must not outlive it.
TEST_F(SlaveStreams, LargeStreamsEndedEarly) {
    RawPeer peer = StartStreamJob(60, 64 << 20);
    const Body data = Pattern(1 << 20);
    ASSERT_TRUE(peer.SendBody(Block(0, 0, data)));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    ASSERT_TRUE(peer.SendBody(Words({163, 0, 0, 1})));
    EXPECT_EQ(Next(peer), Words({160, 0, 0, 0}));
    EXPECT_EQ(FinishJob(peer, 60), kStreamCanceled);
    EXPECT_EQ(Slave::FromHandle(slave)->OpenStreams(), 0);
    // A stream whose job is refused stays current until its end, which never comes: DeInit
    // (the fixture's teardown) releases it.
    ASSERT_TRUE(peer.SendBody(StreamJobBody(61, "NoSuchJob", 0, 64 << 20)));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(Next(peer), Words({2, 6, 61}));
}

TEST_F(SlaveStreams, EndsThatFailOrCancel) {
    const struct {
        int32_t crcWord;  // 1: the right CRC plus one
        int32_t cancel;
        int32_t state;
    } cases[] = {{0, 1, kStreamCanceled}, {0, 0, kStreamFailed}, {1, 0, kStreamFailed}};
    int32_t jobId = 30;
    for (const auto& c : cases) {
        SCOPED_TRACE(jobId);
        RawPeer peer = StartStreamJob(++jobId, 100);
        const Body data = Pattern(100);
        ASSERT_TRUE(peer.SendBody(Block(0, 0, data)));
        EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
        const int32_t crc = c.crcWord == 0 ? 0 : CrcOf(data) + 1;
        ASSERT_TRUE(peer.SendBody(Words({163, 0, crc, c.cancel})));
        EXPECT_EQ(Next(peer), Words({160, 0, 0, 0}));
        EXPECT_EQ(FinishJob(peer, jobId), c.state);
    }
}

TEST_F(SlaveStreams, TheJobCanCancel) {
    Probe().cancelStream = true;
    RawPeer peer = StartStreamJob(40, 2000);
    const Body data = Pattern(2000);
    const std::span<const uint8_t> all(data);
    // The block is still stored, but acknowledged with the cancel word.
    ASSERT_TRUE(peer.SendBody(Block(0, 0, all.subspan(0, 1000))));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 1}));
    EXPECT_EQ(FinishJob(peer, 40), kStreamCanceled);
    EXPECT_EQ(Probe().streamReceived, 1000);
}

TEST_F(SlaveStreams, RelayBetweenTwoMasters) {
    RawPeer a = Connect();
    RawPeer b = Connect();
    const Body params = IntParams({9});
    // Stream start: forwarded with A's number in word 4.
    ASSERT_TRUE(a.SendBody(StreamJobBody(77, "Handler", 2, 1000, params)));
    Body forwarded = StreamJobBody(1, "Handler", 2, 1000, params);
    EXPECT_EQ(Next(b), forwarded);
    // B's acknowledgement goes back unchanged.
    ASSERT_TRUE(b.SendBody(Words({160, 1, 1, 0})));
    EXPECT_EQ(Next(a), Words({160, 1, 1, 0}));
    // Blocks: forwarded when the CRC matches, refused otherwise.
    const Body data = Pattern(1000);
    ASSERT_TRUE(a.SendBody(Block(2, 0, data)));
    EXPECT_EQ(Next(b), Block(1, 0, data));
    ASSERT_TRUE(a.SendBody(Block(2, 0, data, 1)));
    EXPECT_EQ(Next(a), Words({160, 0, 0, 0}));
    ASSERT_TRUE(a.SendBody(Words({163, 2, CrcOf(data), 0})));
    EXPECT_EQ(Next(b), Words({163, 1, CrcOf(data), 0}));
    Sync(b);  // the refused block never reached B

    // Refusals.
    ASSERT_TRUE(a.SendBody(StreamJobBody(78, "Handler", 5, 10)));  // no such master
    EXPECT_EQ(Next(a), Words({160, 0, 0, 0}));
    ASSERT_TRUE(a.SendBody(Block(5, 0, data)));  // block for a master that is not there
    EXPECT_EQ(Next(a), Words({160, 0, 0, 1}));
    ASSERT_TRUE(b.SendBody(Words({160, 5, 1, 0})));  // acknowledgement for nobody
    EXPECT_EQ(Next(b), Words({2, 0, 0, 1}));
    ASSERT_TRUE(a.SendBody(Block(0, 0, data)));  // no stream, no target: ignored
    Sync(a);
    EXPECT_EQ(Orvex_Slave_EnableStreamTransmission(slave, 1, 0), 1);
    ASSERT_TRUE(a.SendBody(StreamJobBody(79, "Handler", 2, 10)));
    EXPECT_EQ(Next(a), Words({160, 0, 0, 1}));
    Sync(b);  // B got nothing
}

}  // namespace
}  // namespace orvex::test
