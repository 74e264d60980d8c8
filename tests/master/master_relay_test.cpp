// Streams that another master relays to this one through a (fake) slave.
#include <atomic>

#include "core/crc32.hpp"
#include "master_fixture.hpp"

namespace orvex::test {
namespace {

using Body = std::vector<uint8_t>;

Body Append(Body a, const Body& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Body RelayStart(int32_t streamId, int32_t size, const std::vector<int32_t>& params) {
    const Text name = T("Take");
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.c_str());
    const Body nameField(bytes, bytes + (name.size() + 1) * sizeof(OrvexChar));
    Body block = Words({static_cast<int32_t>(params.size())});
    for (int32_t value : params) block = Append(block, Words({4, value}));
    return Append(Append(Words({161, streamId, 1, size, 0, static_cast<int32_t>(nameField.size())}),
                         nameField),
                  block);
}

Body RelayBlock(int32_t streamId, int32_t offset, const Body& data, bool goodCrc = true) {
    const uint32_t crc = Crc32(data.data(), data.size()) ^ (goodCrc ? 0u : 1u);
    return Append(Words({162, streamId, offset, static_cast<int32_t>(crc)}), data);
}

Body RelayEnd(int32_t streamId, uint32_t crc, int32_t cancel) {
    return Words({163, streamId, static_cast<int32_t>(crc), cancel});
}

Body Data(size_t size, uint8_t seed) {
    Body data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 13);
    return data;
}

// The receive batch writes these fields in another thread.
int32_t State(OrvexReceivedStream* stream) {
    return std::atomic_ref<int32_t>(stream->state).load();
}
int32_t Received(OrvexReceivedStream* stream) {
    return std::atomic_ref<int32_t>(stream->received).load();
}

class MasterRelayTest : public MasterWireTest {
  protected:
    // Starts a relayed stream and returns the handler's call once the request was accepted.
    RelayCall Start(RawPeer& slave, int32_t streamId, int32_t size,
                    const std::vector<int32_t>& params = {}) {
        const size_t before = RelayLog::Instance().Calls().size();
        slave.SendBody(RelayStart(streamId, size, params));
        EXPECT_EQ(slave.ReceiveBody(), Words({160, streamId, 1, 0}));
        EXPECT_TRUE(RelayLog::Instance().WaitFor(before + 1));
        return RelayLog::Instance().Calls().back();
    }
};

TEST_F(MasterRelayTest, ReceivesAStreamAndHandsItToTheRelayHandler) {
    RawPeer slave = AddFakeSlave();
    const Body data = Data(3000, 1);
    const RelayCall call = Start(slave, 4, 3000, {7, 9});
    EXPECT_EQ(call.master, master);
    EXPECT_EQ(call.slave, 1);
    EXPECT_EQ(call.streamId, 4);
    EXPECT_EQ(call.name, "Take");
    EXPECT_EQ(call.params, (std::vector<int32_t>{7, 9}));
    OrvexReceivedStream* stream = call.stream;
    EXPECT_EQ(stream->size, 3000);
    EXPECT_EQ(State(stream), 1);
    for (int32_t offset = 0; offset < 3000; offset += 1000) {
        slave.SendBody(
            RelayBlock(4, offset, Body(data.begin() + offset, data.begin() + offset + 1000)));
        EXPECT_EQ(slave.ReceiveBody(), Words({160, 4, 1, 0}));
    }
    slave.SendBody(RelayEnd(4, Crc32(data.data(), data.size()), 0));
    EXPECT_EQ(slave.ReceiveBody(), Words({160, 4, 1, 0}));
    EXPECT_EQ(State(stream), 2);
    EXPECT_EQ(Received(stream), 3000);
    EXPECT_EQ(Body(static_cast<uint8_t*>(stream->data), static_cast<uint8_t*>(stream->data) + 3000),
              data);
    EXPECT_EQ(Orvex_Master_FreeStream(master, stream), 0);
}

TEST_F(MasterRelayTest, BadBlocksAndEndsAreRefusedAndMarkTheStream) {
    RawPeer slave = AddFakeSlave();
    const Body data = Data(3000, 2);
    OrvexReceivedStream* stream = Start(slave, 5, 3000).stream;
    EXPECT_FALSE(RelayLog::Instance().Calls().back().hadParams);  // an empty list is passed as 0
    const Body block(data.begin(), data.begin() + 200);
    struct Case {
        Body message;
        Body reply;
    };
    const std::vector<Case> cases = {
        {RelayBlock(5, 0, block, false), Words({160, 5, 0, 0})},  // CRC mismatch
        {RelayBlock(5, 2900, block), Words({160, 5, 0, 0})},      // runs past the buffer
        {RelayBlock(5, -100, block), Words({160, 5, 0, 0})},      // before the buffer
        {RelayBlock(5, 0, block), Words({160, 5, 1, 0})},         // stored
    };
    for (const Case& c : cases) {
        slave.SendBody(c.message);
        EXPECT_EQ(slave.ReceiveBody(), c.reply);
    }
    EXPECT_EQ(Received(stream), 200);
    slave.SendBody(RelayEnd(5, 12345, 0));  // the whole stream does not match
    EXPECT_EQ(slave.ReceiveBody(), Words({160, 5, 0, 0}));
    EXPECT_EQ(State(stream), 3);
    slave.SendBody(RelayBlock(5, 0, block));  // the stream has ended: ignored
    EXPECT_TRUE(NothingArrives(slave.handle(), 30));

    // Ends without a CRC are not answered: a cancel marks the stream canceled, else failed.
    OrvexReceivedStream* canceled = Start(slave, 6, 10).stream;
    slave.SendBody(RelayEnd(6, 0, 1));
    OrvexReceivedStream* failed = Start(slave, 7, 10).stream;
    slave.SendBody(RelayEnd(7, 0, 0));
    slave.SendBody(RelayBlock(99, 0, block));  // no such stream
    EXPECT_TRUE(NothingArrives(slave.handle(), 30));
    EXPECT_EQ(State(canceled), 4);
    EXPECT_EQ(State(failed), 3);
}

TEST_F(MasterRelayTest, CancelRequestIsAnsweredAtTheNextBlock) {
    RawPeer slave = AddFakeSlave();
    const Body data = Data(400, 3);
    OrvexReceivedStream* stream = Start(slave, 4, 400).stream;
    slave.SendBody(RelayBlock(4, 0, Body(data.begin(), data.begin() + 200)));
    EXPECT_EQ(slave.ReceiveBody(), Words({160, 4, 1, 0}));
    std::atomic_ref<int32_t>(stream->cancelRequest).store(1);
    slave.SendBody(RelayBlock(4, 200, Body(data.begin() + 200, data.end())));
    EXPECT_EQ(slave.ReceiveBody(), Words({160, 4, 1, 1}));
    EXPECT_EQ(State(stream), 4);
    EXPECT_EQ(Received(stream), 400);
    slave.SendBody(RelayEnd(4, 1, 0));
    EXPECT_TRUE(NothingArrives(slave.handle(), 30));
}

TEST_F(MasterRelayTest, FreeingAStreamStillReceivingStopsItsBlocks) {
    RawPeer slave = AddFakeSlave();
    OrvexReceivedStream* stream = Start(slave, 4, 1 << 20).stream;
    EXPECT_EQ(Orvex_Master_FreeStream(master, stream), 0);
    EXPECT_EQ(Orvex_Master_FreeStream(master, stream), 0);  // a second free is ignored
    slave.SendBody(RelayBlock(4, 0, Data(1000, 4)));
    EXPECT_TRUE(NothingArrives(slave.handle(), 30));
    // A new stream under the same id works as before.
    OrvexReceivedStream* next = Start(slave, 4, 10).stream;
    slave.SendBody(RelayBlock(4, 0, Data(10, 5)));
    EXPECT_EQ(slave.ReceiveBody(), Words({160, 4, 1, 0}));
    EXPECT_EQ(Received(next), 10);
}

TEST_F(MasterRelayTest, DeInitEndsAHandlerThatWaitsForItsStream) {
    RawPeer slave = AddFakeSlave();
    RelayLog::Instance().waitForEnd = true;
    Start(slave, 4, 1000);
    Orvex_Master_DeInit(master);
    master = nullptr;
    EXPECT_EQ(RelayLog::Instance().finalState.load(), 3);
}

}  // namespace
}  // namespace orvex::test
