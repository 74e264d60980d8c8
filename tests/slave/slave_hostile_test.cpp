// Hostile and malformed input: the slave neither reads past a body nor writes past a
// stream, answers what it can, and keeps serving new connections afterwards.
#include <zlib.h>

#include "core/crc32.hpp"
#include "slave/slave_fixture.hpp"

namespace orvex::test {
namespace {

constexpr int32_t kMagic = static_cast<int32_t>(protocol::kPacketMagic);

Body Concat(std::initializer_list<Body> parts) {
    Body out;
    for (const Body& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Body Raw(std::initializer_list<int32_t> words) {
    return Words(words);
}

// A job request head with the given name field size, followed by `rest`.
Body RequestWithNameField(int32_t nameFieldSize, Body rest) {
    return Concat({Words({2, 9, 0, 0, 0, nameFieldSize}), std::move(rest)});
}

Body Name(const std::string& ascii) {
    Body bytes = TextBytes(ascii);
    bytes.resize(bytes.size() + sizeof(Char), 0);
    return bytes;
}

int32_t NameSize(const std::string& ascii) {
    return static_cast<int32_t>(Name(ascii).size());
}

Body CompressedBody(const Body& plainPacket, int32_t claimedSize) {
    uLongf size = compressBound(static_cast<uLong>(plainPacket.size()));
    Body zipped(size);
    compress2(zipped.data(), &size, plainPacket.data(), plainPacket.size(), 6);
    zipped.resize(size);
    return Concat({Words({255, claimedSize}), zipped});
}

struct Case {
    const char* what;
    Body raw;                   // bytes sent as they are
    std::vector<Body> replies;  // what the slave must answer, in order (then nothing)
};

TEST_F(SlaveTest, HostileInputIsRefusedAndTheSlaveServesOn) {
    RegisterJobs();
    const Body goodRequest = Frame(JobRequestBody(1, "Sum"));
    const Case cases[] = {
        {"body length 0", Raw({kMagic, 0}), {}},
        {"body length 1", Concat({Raw({kMagic, 1}), Body{2}}), {}},
        {"body length 3", Concat({Raw({kMagic, 3}), Body{2, 0, 0}}), {}},
        {"absurd body length", Raw({kMagic, 0x7FFFFFFF, 2, 2}), {}},
        {"negative body length", Raw({kMagic, -8, 2, 2}), {}},
        {"garbage", Body{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', 13, 10, 13, 10}, {}},
        {"bad magic before a good request", Concat({Raw({0x11223344, 4, 5}), goodRequest}), {}},
        {"job request of 4 bytes", Frame(Raw({2})), {}},
        {"job request of 12 bytes", Frame(Raw({2, 9, 0})), {Raw({2, 159, 9})}},
        {"name field past the body",
         Frame(RequestWithNameField(100, Name("Sum"))),
         {Raw({2, 159, 9})}},
        {"name field of 0 bytes", Frame(RequestWithNameField(0, Words({0}))), {Raw({2, 159, 9})}},
        {"negative name field", Frame(RequestWithNameField(-4, Name("Sum"))), {Raw({2, 159, 9})}},
        {"parameter count past the body",
         Frame(RequestWithNameField(NameSize("Sum"), Concat({Name("Sum"), Words({5, 4, 1})}))),
         {Raw({2, 159, 9})}},
        {"parameter size past the body",
         Frame(RequestWithNameField(NameSize("Sum"), Concat({Name("Sum"), Words({1, 100, 1})}))),
         {Raw({2, 159, 9})}},
        {"negative parameter size",
         Frame(RequestWithNameField(NameSize("Sum"), Concat({Name("Sum"), Words({1, -4, 1})}))),
         {Raw({2, 159, 9})}},
        {"no parameter block",
         Frame(RequestWithNameField(NameSize("Sum"), Name("Sum"))),
         {Raw({2, 159, 9})}},
        {"negative stream size", Frame(StreamJobBody(9, "Stream", 0, -1)), {Raw({160, 0, 0, 0})}},
        {"absurd stream size",
         Frame(StreamJobBody(9, "Stream", 0, 0x7FFFFFFF)),
         {Raw({160, 0, 0, 0})}},
        {"short ping", Frame(Raw({5})), {}},
        {"short stream block", Frame(Raw({162, 0, 0})), {}},
        {"short stream end", Frame(Raw({163, 0})), {}},
        {"short acknowledgement", Frame(Raw({160, 1})), {}},
        {"damaged compressed body", Frame(Concat({Raw({255, 40}), Body(30, 0xAB)})), {}},
        {"compressed body with an absurd size", Frame(CompressedBody(goodRequest, 0x7FFFFFF0)), {}},
        {"compressed body of 8 bytes claiming a packet", Frame(Raw({255, 20})), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawPeer peer = RawPeer::ConnectTo(port);
        ASSERT_TRUE(peer.Send(c.raw));
        for (const Body& reply : c.replies) EXPECT_EQ(Next(peer), reply);
        EXPECT_TRUE(NothingArrives(peer.handle(), 20));
        EXPECT_TRUE(StillServes());
    }
    EXPECT_EQ(Probe().calls, 0);
}

// Blocks that do not lie within the stream are not written; a stream freed by its job while
// its master still sends is never touched again.
TEST_F(SlaveTest, StreamBlocksOutsideTheStreamAndFreedStreams) {
    RegisterJobs();
    Probe().gateOpen = false;
    RawPeer peer = Connect();
    ASSERT_TRUE(peer.SendBody(StreamJobBody(1, "Stream", 0, 100)));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(Next(peer), Words({2, 3, 1}));
    const Body data(20, 0x5A);
    const int32_t crc = static_cast<int32_t>(Crc32(data.data(), data.size()));
    for (const int32_t offset : {90, -1, 0x7FFFFFF0, 101}) {
        SCOPED_TRACE(offset);
        ASSERT_TRUE(peer.SendBody(Concat({Words({162, 0, offset, crc}), data})));
        Body ack = Next(peer);
        if (ack == Words({2, 2, 1})) ack = Next(peer);  // the job's start may come in between
        EXPECT_EQ(ack, Words({160, 0, 0, 0}));
    }
    // The job frees the stream while it is still being received.
    Probe().OpenGate();
    Body result = Next(peer);
    if (result == Words({2, 2, 1})) result = Next(peer);
    EXPECT_EQ(result, IntResult(1, kStreamReceiving));
    ASSERT_TRUE(peer.SendBody(Concat({Words({162, 0, 0, crc}), data})));
    ASSERT_TRUE(peer.SendBody(Words({163, 0, crc, 0})));
    EXPECT_TRUE(NothingArrives(peer.handle(), 20));
    EXPECT_EQ(Slave::FromHandle(slave)->OpenStreams(), 0);
    EXPECT_TRUE(StillServes());
}

// A stream job that is refused after its stream began still takes the blocks, and its
// stream is released at the end rather than kept until DeInit.
TEST_F(SlaveTest, StreamOfARefusedJobIsReleasedAtItsEnd) {
    RawPeer peer = Connect();
    ASSERT_TRUE(peer.SendBody(StreamJobBody(3, "NoSuchJob", 0, 10)));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(Next(peer), Words({2, 6, 3}));
    const Body data(10, 1);
    const int32_t crc = static_cast<int32_t>(Crc32(data.data(), data.size()));
    ASSERT_TRUE(peer.SendBody(Concat({Words({162, 0, 0, crc}), data})));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(Slave::FromHandle(slave)->OpenStreams(), 1);
    ASSERT_TRUE(peer.SendBody(Words({163, 0, crc, 0})));
    EXPECT_EQ(Next(peer), Words({160, 0, 1, 0}));
    EXPECT_EQ(Slave::FromHandle(slave)->OpenStreams(), 0);
}

}  // namespace
}  // namespace orvex::test
