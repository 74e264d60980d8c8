// The slave on the wire: queries, job requests and their notices, limits, access checks,
// pause and resume, kick and goodbye, compression.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "slave/slave_fixture.hpp"

namespace orvex::test {
namespace {

using SlaveJobs = SlaveTest;

TEST_F(SlaveJobs, InitAndSettings) {
    EXPECT_EQ(Orvex_Slave_GetLastError(slave), nullptr);
    EXPECT_EQ(Orvex_Slave_SetReceiveBlockSize(slave, 4096), 524288);
    EXPECT_EQ(Orvex_Slave_SetReceiveBlockSize(slave, 4096), 4096);
    EXPECT_EQ(Orvex_Slave_SetReceiveBlockSize(slave, 0), -1);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))), "invalid block size");
    EXPECT_EQ(Orvex_Slave_SetReceiveBlockSize(slave, 8), 4096);

    // A port in use cannot be listened on again.
    EXPECT_EQ(Orvex_Slave_Init(port, 1), nullptr);

    // Fewer than one worker gives one, and the worker-count reply reports it.
    for (const int32_t workers : {0, -5, 3}) {
        OrvexSlave* other = Orvex_Slave_Init(0, workers);
        ASSERT_NE(other, nullptr);
        RawPeer peer = RawPeer::ConnectTo(Slave::FromHandle(other)->Port());
        ASSERT_TRUE(peer.SendBody(Words({4, 0})));
        EXPECT_EQ(peer.ReceiveBody(), Words({4, workers < 1 ? 1 : workers}));
        Orvex_Slave_DeInit(other);
    }
}

TEST_F(SlaveJobs, QueriesAreAnsweredWithTheirEvents) {
    RawPeer peer = Connect();
    Body expected = Words({1, 0});
    const Body text = TextBytes("Currently no jobs avaible");
    expected.insert(expected.end(), text.begin(), text.end());
    ASSERT_TRUE(peer.SendBody(Words({1, 0})));
    EXPECT_EQ(Next(peer), expected);
    EXPECT_EQ(expected.size(), 8u + 25u * sizeof(Char));

    Orvex_Slave_AddJob(slave, FromAscii("A").c_str(), FromAscii("x").c_str(), SumJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("B").c_str(), FromAscii("y").c_str(), NullJob, 1);
    expected = Words({1, 0});
    const Body lines =
        TextBytes("Name: \"A\" Description: \"x\"\n\rName: \"B\" Description: \"y\"\n\r");
    expected.insert(expected.end(), lines.begin(), lines.end());
    ASSERT_TRUE(peer.SendBody(Words({1, 0})));
    EXPECT_EQ(Next(peer), expected);

    ASSERT_TRUE(peer.SendBody(Words({3, 0})));
    EXPECT_EQ(Next(peer), Words({3, 0}));
    ASSERT_TRUE(peer.SendBody(Words({5, 12345})));
    EXPECT_EQ(Next(peer), Words({5, 12345}));
    ASSERT_TRUE(peer.SendBody(Words({4, 0})));
    EXPECT_EQ(Next(peer), Words({4, 4}));
    // An unknown type: event 7, no reply, and the batch goes on.
    ASSERT_TRUE(peer.SendBody(Words({77, 1, 2})));
    Sync(peer);

    ASSERT_TRUE(recorder.WaitFor(8, 1, 2));
    std::vector<int32_t> types;
    for (const auto& event : recorder.Events()) types.push_back(event.type);
    EXPECT_EQ(types, (std::vector<int32_t>{2, 3, 3, 5, 8, 6, 7, 8}));
}

TEST_F(SlaveJobs, JobRequestGetsQueuedStartedAndResult) {
    RegisterJobs();
    RawPeer peer = Connect();
    struct Case {
        std::string name;
        Body params;
        Body result;
    };
    const Case cases[] = {
        {"Sum", IntParams({40, 2}), IntResult(11, 42)},
        {"sUM", IntParams({1}), IntResult(11, 1)},       // names match without case
        {"Sum", Words({0}), IntResult(11, -1)},          // empty block: null list
        {"Null", Words({0}), Words({2, 1, 11, 0})},      // null result: size 0
        {"Messages", Words({0}), Words({2, 4, 11, 3})},  // messages come before the result
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(peer.SendBody(JobRequestBody(11, c.name, c.params)));
        EXPECT_EQ(Next(peer), Words({2, 3, 11}));
        EXPECT_EQ(Next(peer), Words({2, 2, 11}));
        Body first = Next(peer);
        if (c.name == "Messages") {
            ASSERT_EQ(first.size(), 19u);
            EXPECT_EQ(Body(first.begin(), first.begin() + 16), c.result);
            EXPECT_EQ(Body(first.begin() + 16, first.end()), Body({'o', 'n', 'e'}));
            EXPECT_EQ(Next(peer), Words({2, 4, 11, 4, 0x01020304}));
            EXPECT_EQ(Next(peer), IntResult(11, 99));
        } else {
            EXPECT_EQ(first, c.result);
        }
    }
    ASSERT_TRUE(recorder.WaitFor(4, 1, 5));
    EXPECT_EQ(recorder.Events()[2].text, "sUM");  // event 4 carries the name as sent

    // A 16386-byte memory result arrives whole.
    ASSERT_TRUE(peer.SendBody(JobRequestBody(12, "big")));
    EXPECT_EQ(Next(peer), Words({2, 3, 12}));
    EXPECT_EQ(Next(peer), Words({2, 2, 12}));
    const Body big = Next(peer);
    ASSERT_EQ(big.size(), 16u + 16386u);
    EXPECT_EQ(Body(big.begin(), big.begin() + 16), Words({2, 1, 12, 16386}));
    EXPECT_EQ(big[16 + 16385], 'a' + 16385 % 3);
}

TEST_F(SlaveJobs, RefusalsSendOneNotice) {
    RegisterJobs();
    RawPeer peer = Connect();
    ASSERT_TRUE(peer.SendBody(JobRequestBody(5, "NoSuchJob")));
    EXPECT_EQ(Next(peer), Words({2, 6, 5}));
    // A value of 0 bytes cannot be decoded.
    ASSERT_TRUE(peer.SendBody(JobRequestBody(6, "Sum", Words({2, 4, 1, 0}))));
    EXPECT_EQ(Next(peer), Words({2, 159, 6}));
    Sync(peer);
    EXPECT_EQ(Probe().calls, 0);
    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave, 1), 0);
}

TEST_F(SlaveJobs, JobLimitAndCounts) {
    RegisterJobs();
    RawPeer peer = Connect();
    EXPECT_EQ(Orvex_Slave_SetMasterJobLimit(slave, 1, 2), 1);
    Probe().gateOpen = false;
    for (int32_t id = 1; id <= 2; ++id) {
        ASSERT_TRUE(peer.SendBody(JobRequestBody(id, "Blocking")));
        EXPECT_EQ(Next(peer), Words({2, 3, id}));
        EXPECT_EQ(Next(peer), Words({2, 2, id}));
    }
    ASSERT_TRUE(Probe().WaitRunning(2));
    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave, 1), 2);
    EXPECT_EQ(Orvex_Slave_CountJobs(slave), 2);
    ASSERT_TRUE(peer.SendBody(JobRequestBody(3, "Blocking")));
    EXPECT_EQ(Next(peer), Words({2, 5, 3}));
    ASSERT_TRUE(peer.SendBody(Words({3, 0})));
    EXPECT_EQ(Next(peer), Words({3, 2}));

    Probe().OpenGate();
    std::vector<Body> results = {Next(peer), Next(peer)};  // in either order
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::vector<Body>{IntResult(1, 7), IntResult(2, 7)}));
    ASSERT_TRUE(peer.SendBody(JobRequestBody(4, "Sum")));
    EXPECT_EQ(Next(peer), Words({2, 3, 4}));

    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave, 0), -1);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))),
              "Orvex_Slave_CountMasterJobs(): invalid master number");
    EXPECT_EQ(Orvex_Slave_SetMasterJobLimit(slave, 2, 1), -1);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))),
              "Orvex_Slave_SetMasterJobLimit(): invalid master number");
    EXPECT_EQ(Orvex_Slave_SetMasterJobLimit(slave, 0, 3), 1);
    EXPECT_EQ(Orvex_Slave_SetMasterJobAccessCheck(slave, -1, nullptr), -1);
    EXPECT_EQ(Orvex_Slave_EnableStreamTransmission(slave, 9, 0), -1);
}

TEST_F(SlaveJobs, AccessCheckSeesTheNameAsSentAndCanRefuse) {
    RegisterJobs();
    RawPeer peer = Connect();
    EXPECT_EQ(Orvex_Slave_SetMasterJobAccessCheck(slave, 0, RecordingAccessCheck), 1);
    Probe().accessAnswer = 0;
    ASSERT_TRUE(peer.SendBody(JobRequestBody(8, "SUM")));
    EXPECT_EQ(Next(peer), Words({2, 3, 8}));
    EXPECT_EQ(Next(peer), Words({2, 7, 8}));
    Probe().accessAnswer = 1;
    ASSERT_TRUE(peer.SendBody(JobRequestBody(9, "sum", IntParams({3}))));
    EXPECT_EQ(Next(peer), Words({2, 3, 9}));
    EXPECT_EQ(Next(peer), Words({2, 2, 9}));
    EXPECT_EQ(Next(peer), IntResult(9, 3));
    EXPECT_EQ(Probe().calls, 1);
    EXPECT_EQ(Probe().accessNames, (std::vector<std::string>{"SUM", "sum"}));
    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave, 1), 0);
}

TEST_F(SlaveJobs, PauseAndResumeAreAnnouncedOnce) {
    RegisterJobs();
    RawPeer a = Connect();
    RawPeer b = Connect();
    Orvex_Slave_Pause(slave);
    Orvex_Slave_Pause(slave);
    for (RawPeer* peer : {&a, &b}) EXPECT_EQ(Next(*peer), Words({2, 161, 0}));
    // Paused: accepted and queued, not started.
    ASSERT_TRUE(a.SendBody(JobRequestBody(1, "Sum", IntParams({5}))));
    EXPECT_EQ(Next(a), Words({2, 3, 1}));
    EXPECT_TRUE(NothingArrives(a.handle(), 50));
    EXPECT_EQ(Orvex_Slave_CountJobs(slave), 1);
    Orvex_Slave_Resume(slave);
    Orvex_Slave_Resume(slave);
    EXPECT_EQ(Next(b), Words({2, 162, 0}));
    EXPECT_EQ(Next(a), Words({2, 162, 0}));
    EXPECT_EQ(Next(a), Words({2, 2, 1}));
    EXPECT_EQ(Next(a), IntResult(1, 5));
    Sync(a);
    Sync(b);  // nothing else was sent to either
}

TEST_F(SlaveJobs, KickSendsTheNoticeAndCloses) {
    RawPeer a = Connect();
    RawPeer b = Connect();
    EXPECT_EQ(Orvex_Slave_SetMasterXtraData(slave, 1, 77), 1);
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 2);
    EXPECT_EQ(Orvex_Slave_KickMaster(slave, 1), 1);
    EXPECT_EQ(Next(a), Words({2, 163, 0}));
    EXPECT_TRUE(ReadExactly(a.handle(), 1, 5000).empty());  // closed
    EXPECT_TRUE(recorder.WaitFor(1, 1));
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 1);
    EXPECT_EQ(Orvex_Slave_KickMaster(slave, 1), 1);  // already gone: nothing changes
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 1);
    EXPECT_EQ(Orvex_Slave_GetMasterXtraData(slave, 1), 77);
    EXPECT_EQ(Orvex_Slave_KickMaster(slave, 3), 0);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))),
              "Orvex_Slave_KickMaster(): invalid master number");
    Sync(b);
}

TEST_F(SlaveJobs, DeInitSaysGoodbyeAndDropsQueuedJobs) {
    RegisterJobs();
    RawPeer peer = Connect();
    Probe().gateOpen = false;
    Orvex_Slave_SetMasterJobLimit(slave, 0, 0);
    ASSERT_TRUE(peer.SendBody(JobRequestBody(1, "Blocking")));
    ASSERT_TRUE(Probe().WaitRunning(1));
    Orvex_Slave_Pause(slave);
    ASSERT_TRUE(peer.SendBody(JobRequestBody(2, "Sum")));
    EXPECT_EQ(Next(peer), Words({2, 3, 1}));
    EXPECT_EQ(Next(peer), Words({2, 2, 1}));
    EXPECT_EQ(Next(peer), Words({2, 161, 0}));
    EXPECT_EQ(Next(peer), Words({2, 3, 2}));
    std::thread opener([] { Probe().OpenGate(); });
    Orvex_Slave_DeInit(slave);
    slave = nullptr;
    opener.join();
    // The running job finished; the queued one was dropped; then the goodbye.
    EXPECT_EQ(Next(peer), IntResult(1, 7));
    EXPECT_EQ(Next(peer), Words({160}));
    EXPECT_TRUE(ReadExactly(peer.handle(), 1, 5000).empty());
    EXPECT_EQ(Probe().calls, 1);
}

// With receive threads on, batches of different masters run at once (one thread per master
// at a time); every master still gets its answers in order.
TEST_F(SlaveJobs, ReceiveThreadsServeSeveralMastersAtOnce) {
    RegisterJobs();
    Orvex_Slave_ThreadReceive(slave, 0x101);  // the low byte counts
    std::vector<RawPeer> peers;
    for (int i = 0; i < 3; ++i) peers.push_back(Connect());
    std::vector<std::thread> masters;
    std::atomic<int> correct{0};
    for (RawPeer& peer : peers) {
        masters.emplace_back([&peer, &correct] {
            for (int32_t id = 1; id <= 40; ++id) {
                if (!peer.SendBody(JobRequestBody(id, "Sum", IntParams({id, 1})))) return;
                const bool ok = peer.ReceiveBody() == Words({2, 3, id}) &&
                                peer.ReceiveBody() == Words({2, 2, id}) &&
                                peer.ReceiveBody() == IntResult(id, id + 1);
                if (ok) ++correct;
            }
        });
    }
    for (std::thread& master : masters) master.join();
    EXPECT_EQ(correct.load(), 120);
    peers[0].Close();  // down to two masters: still in receive threads
    ASSERT_TRUE(recorder.WaitFor(1, EventRecorder::kAnyMaster));
    Sync(peers[1]);
    Sync(peers[2]);
}

TEST_F(SlaveJobs, CompressionBothWays) {
    RegisterJobs();
    RawPeer peer = Connect();
    Orvex_Slave_SetCompressionOptions(slave, 100, 6);
    // A compressed request is accepted whatever the slave's own settings.
    const Body request = JobRequestBody(3, "Big");
    const Body packet = Frame(request);
    uLongf size = compressBound(static_cast<uLong>(packet.size()));
    Body zipped(size);
    ASSERT_EQ(compress2(zipped.data(), &size, packet.data(), packet.size(), 6), Z_OK);
    zipped.resize(size);
    Body compressed = Words({255, static_cast<int32_t>(packet.size())});
    compressed.insert(compressed.end(), zipped.begin(), zipped.end());
    ASSERT_TRUE(peer.SendBody(compressed));
    // Small notices stay plain; the 16402-byte result leaves compressed.
    EXPECT_EQ(Next(peer), Words({2, 3, 3}));
    EXPECT_EQ(Next(peer), Words({2, 2, 3}));
    const Body result = Next(peer);
    ASSERT_GE(result.size(), 8u);
    EXPECT_EQ(protocol::ReadLe32(result.data()), 255);
    EXPECT_EQ(protocol::ReadLe32(result.data() + 4), 8 + 16 + 16386);
    uLongf plainSize = 8 + 16 + 16386;
    Body plain(plainSize);
    ASSERT_EQ(uncompress(plain.data(), &plainSize, result.data() + 8, result.size() - 8), Z_OK);
    EXPECT_EQ(Body(plain.begin() + 8, plain.begin() + 24), Words({2, 1, 3, 16386}));

    Orvex_Slave_SetCompressionOptions(slave, 100, 0);
    ASSERT_TRUE(peer.SendBody(JobRequestBody(4, "Big")));
    Next(peer);
    Next(peer);
    EXPECT_EQ(Next(peer).size(), 16u + 16386u);
}

}  // namespace
}  // namespace orvex::test
