// Job requests on the wire, job ids, and how the slave's answers become events.
#include <chrono>
#include <cstring>

#include "master/master.hpp"
#include "master_fixture.hpp"

namespace orvex::test {
namespace {

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The wire bytes of an ASCII text in this build, with its terminator.
std::vector<uint8_t> NameField(const std::string& ascii) {
    const Text text = T(ascii);
    std::vector<uint8_t> out(reinterpret_cast<const uint8_t*>(text.c_str()),
                             reinterpret_cast<const uint8_t*>(text.c_str() + text.size() + 1));
    return out;
}

std::vector<uint8_t> Result(int32_t code, int32_t jobId, const std::vector<uint8_t>& data) {
    return Concat(Words({2, code, jobId, static_cast<int32_t>(data.size())}), data);
}

template <typename V>
std::vector<uint8_t> Bytes(V value) {
    std::vector<uint8_t> out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

TEST_F(MasterWireTest, JobRequestLayoutWithAndWithoutParameters) {
    RawPeer slave = AddFakeSlave();
    EXPECT_EQ(Orvex_Master_DoJob(master, T("CRC_Text").c_str(), 1, nullptr, nullptr, 0, nullptr, 0,
                                 0, nullptr, 0, 0, 2),
              1);
    const int32_t n = static_cast<int32_t>(NameField("CRC_Text").size());
    EXPECT_EQ(n, 9 * static_cast<int32_t>(sizeof(OrvexChar)));
    EXPECT_EQ(slave.ReceiveBody(),
              Concat(Concat(Words({2, 1, 0, 0, 2, n}), NameField("CRC_Text")), Words({0})));

    OrvexParameterList* params = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(params, 7);
    Orvex_Parameter_AddDouble(params, 2.5);
    EXPECT_EQ(Job("Sum", 1, params), 2);
    const std::vector<uint8_t> block = Concat(Words({2, 4, 7, 8}), Bytes(2.5));
    EXPECT_EQ(slave.ReceiveBody(),
              Concat(Concat(Words({2, 2, 0, 0, 0, static_cast<int32_t>(NameField("Sum").size())}),
                            NameField("Sum")),
                     block));
}

TEST_F(MasterWireTest, JobIdsAreReusedFromTheTopAndRestartWhenNoneIsPending) {
    RawPeer slave = AddFakeSlave();
    EXPECT_EQ(Job("a", 1), 1);
    EXPECT_EQ(Job("a", 1), 2);
    EXPECT_EQ(Job("a", 1), 3);
    slave.SendBody(Result(1, 3, {}));
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Job("a", 1), 3);  // the highest id came back
    for (int32_t id : {1, 2, 3}) slave.SendBody(Result(1, id, {}));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Job("a", 1), 1);  // nothing pending: numbering starts again

    // A refused job keeps its id: with 1 refused and 2 finished, the next ids are 2 and 3.
    EXPECT_EQ(Job("a", 1), 2);
    slave.SendBody(Words({2, 6, 1}));
    slave.SendBody(Result(1, 2, {}));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Job("a", 1), 2);
    EXPECT_EQ(Job("a", 1), 3);
}

TEST_F(MasterWireTest, JobTableGrowsByABlockAtId256) {
    RawPeer slave = AddFakeSlave();
    Master* inner = Master::From(master);
    for (int32_t id = 1; id <= 255; ++id) ASSERT_EQ(Job("a", 1), id);
    EXPECT_EQ(inner->JobTableCapacity(), 256);
    EXPECT_EQ(Job("a", 1), 256);
    EXPECT_EQ(inner->JobTableCapacity(), 512);
}

TEST_F(MasterWireTest, JobCallbackGetsTheJobsEventsInOrderAndNothingIsQueued) {
    RawPeer slave = AddFakeSlave();
    CallbackLog log;
    const int32_t id = Job("a", 1, nullptr, &CallbackLog::Record, log.Data());
    slave.SendBody(Words({2, 3, id}));
    slave.SendBody(Words({2, 2, id}));
    slave.SendBody(Result(4, id, {9, 9}));
    slave.SendBody(Result(1, id, Bytes<int32_t>(305419896)));
    ASSERT_TRUE(log.WaitFor(4));
    const auto calls = log.Calls();
    ASSERT_EQ(calls.size(), 4u);
    const int32_t types[] = {3, 2, 4, 1};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i].type, types[i]);
        EXPECT_EQ(calls[i].slave, 1);
        EXPECT_EQ(calls[i].jobId, id);
        EXPECT_EQ(calls[i].userData, log.Data());
    }
    EXPECT_EQ(calls[2].memory, (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(calls[3].memory, Bytes<int32_t>(305419896));
    EXPECT_EQ(Orvex_Master_Event(master), 0);
    EXPECT_EQ(Job("a", 1), id);  // the final result released the id
}

TEST_F(MasterWireTest, EventQueueAndOnceOnlyTypedAccessors) {
    RawPeer slave = AddFakeSlave();
    const int32_t id = Job("a", 1);
    slave.SendBody(Words({2, 3, id}));
    slave.SendBody(Words({2, 2, id}));
    slave.SendBody(Result(1, id, Bytes<int32_t>(305419896)));
    for (int32_t type : {3, 2, 1}) {
        ASSERT_TRUE(NextEvent());
        EXPECT_EQ(Orvex_Master_Event_Type(master), type);
        EXPECT_EQ(Orvex_Master_Event_Slave(master), 1);
        EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
    }
    EXPECT_EQ(Orvex_Master_Event(master), 0);
    EXPECT_EQ(Orvex_Master_Event_JobMemSize(master), 4);
    EXPECT_EQ(Orvex_Master_Event_JobLong(master), 305419896);
    EXPECT_EQ(Orvex_Master_Event_JobLong(master), 0);
    EXPECT_EQ(LastError(), "Orvex_Master_Event_JobLong(): no job memory available");

    // Each accessor kind on its own result; JobMem leaves the memory current.
    struct Case {
        std::vector<uint8_t> data;
        std::function<bool()> read;
        std::string name;
    };
    const std::vector<Case> cases = {
        {Bytes<int32_t>(-5), [&] { return Orvex_Master_Event_JobInteger(master) == -5; },
         "JobInteger"},
        {Bytes<int64_t>(1LL << 40),
         [&] { return Orvex_Master_Event_JobQuad(master) == (1LL << 40); }, "JobQuad"},
        {Bytes<float>(1.5f), [&] { return Orvex_Master_Event_JobFloat(master) == 1.5f; },
         "JobFloat"},
        {Bytes<double>(2.25), [&] { return Orvex_Master_Event_JobDouble(master) == 2.25; },
         "JobDouble"},
        {NameField("hi"),
         [&] {
             OrvexChar* text = Orvex_Master_Event_JobString(master);
             const bool ok = text != nullptr && ViewOf(text) == T("hi");
             Orvex_FreeMemory(text);
             return ok;
         },
         "JobString"},
    };
    for (const Case& c : cases) {
        const int32_t job = Job("a", 1);
        slave.SendBody(Result(1, job, c.data));
        ASSERT_TRUE(NextEvent());
        EXPECT_TRUE(c.read()) << c.name;
        EXPECT_FALSE(c.read()) << c.name;
        EXPECT_EQ(LastError(), "Orvex_Master_Event_" + c.name + "(): no job memory available");
    }
    const int32_t job = Job("a", 1);
    slave.SendBody(Result(1, job, {1, 2, 3}));
    ASSERT_TRUE(NextEvent());
    void* memory = Orvex_Master_Event_JobMem(master);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(Orvex_Master_Event_JobMem(master), memory);
    EXPECT_EQ(std::memcmp(memory, "\1\2\3", 3), 0);
    Orvex_FreeMemory(memory);
}

TEST_F(MasterWireTest, UnterminatedStringResultGainsATerminator) {
    RawPeer slave = AddFakeSlave();
    const int32_t job = Job("a", 1);
    std::vector<uint8_t> raw = NameField("abc");
    raw.resize(raw.size() - sizeof(OrvexChar));  // no terminator on the wire
    slave.SendBody(Result(1, job, raw));
    ASSERT_TRUE(NextEvent());
    OrvexChar* text = Orvex_Master_Event_JobString(master);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(ViewOf(text), T("abc"));
    Orvex_FreeMemory(text);
}

TEST_F(MasterWireTest, EventCallbackGetsJobAndSlaveEventsWithItsUserData) {
    RawPeer slave = AddFakeSlave();
    CallbackLog log;
    Orvex_Master_SetCallback(master, &CallbackLog::Record, log.Data());
    const int32_t id = Job("a", 1);
    slave.SendBody(Words({2, 3, id}));
    slave.SendBody(Words({2, 161, 0}));
    ASSERT_TRUE(log.WaitFor(2));
    const auto calls = log.Calls();
    EXPECT_EQ(calls[0].type, 3);
    EXPECT_EQ(calls[0].jobId, id);
    EXPECT_EQ(calls[1].type, 161);
    EXPECT_EQ(calls[1].jobId, 0);
    EXPECT_EQ(calls[1].userData, log.Data());
    EXPECT_EQ(Orvex_Master_Event(master), 0);
}

TEST_F(MasterWireTest, MasterMadeEvents) {
    RawPeer slave = AddFakeSlave();
    struct Case {
        std::vector<uint8_t> body;
        int32_t type, slave, jobId;
    };
    const std::vector<Case> cases = {
        {Words({2, 2, 99}), 8, 1, 99},            // unknown job id
        {Result(1, 98, {1, 2, 3, 4}), 8, 1, 98},  // a result for it: data dropped
        {Words({77, 1, 2}), 164, 1, 0},           // unknown command
        {Words({255, 100, 0, 0}), 164, 1, 0},     // compressed body that does not inflate
        {Words({2, 255, 0}), 255, 1, 0},          // the slave lost one of our messages
        {Words({2, 162, 0}), 162, 1, 0},          // a slave event passes as it came
        {Words({160, 0, 1, 0}), -1, 0, 0},        // a stream acknowledgement: no event
    };
    for (const Case& c : cases) slave.SendBody(c.body);
    for (const Case& c : cases) {
        if (c.type < 0) continue;
        ASSERT_TRUE(NextEvent());
        EXPECT_EQ(Orvex_Master_Event_Type(master), c.type);
        EXPECT_EQ(Orvex_Master_Event_Slave(master), c.slave);
        EXPECT_EQ(Orvex_Master_Event_JobId(master), c.jobId);
        EXPECT_EQ(Orvex_Master_Event_JobMemSize(master), 0);
    }
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 1);
    EXPECT_FALSE(NextEvent(50));
}

TEST_F(MasterWireTest, BodiesShorterThanTheirFieldsAreIgnored) {
    RawPeer slave = AddFakeSlave();
    const int32_t id = Job("a", 1);
    const std::vector<std::vector<uint8_t>> malformed = {
        Words({2}),           Words({2, 1}), Words({2, 1, id}),      // result without size
        Words({2, 1, id, 9}),                                        // size runs past the body
        Words({3}),           Words({5}),    Words({160, 0, 1, 0}),  // ack: no event
    };
    for (const auto& body : malformed) slave.SendBody(body);
    slave.SendBody(Words({2, 3, id}));
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Orvex_Master_Event_Type(master), 3);
    EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
    EXPECT_FALSE(NextEvent(50));
}

TEST_F(MasterWireTest, GoodbyeAndKickRemoveTheSlaveBeforeTheEvent) {
    int32_t first = 0, second = 0;
    RawPeer a = AddFakeSlave(&first);
    RawPeer b = AddFakeSlave(&second);
    a.SendBody(Words({160}));
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Orvex_Master_Event_Type(master), 160);
    EXPECT_EQ(Orvex_Master_Event_Slave(master), first);
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 1);
    EXPECT_TRUE(ReadExactly(a.handle(), 1, 5000).empty());  // closed

    b.SendBody(Words({2, 163, 0}));
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Orvex_Master_Event_Type(master), 163);
    EXPECT_EQ(Orvex_Master_Event_Slave(master), second);
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 0);
    EXPECT_TRUE(ReadExactly(b.handle(), 1, 5000).empty());
    // Jobs to a removed slave are not sent but keep their id.
    EXPECT_EQ(Job("a", second), 1);
}

TEST_F(MasterWireTest, IncompletePacketGivesEvent254WithSlaveZero) {
    RawPeer slave = AddFakeSlave();
    std::vector<uint8_t> partial = Words({0x4F525658, 100, 2, 3});
    slave.Send(partial);
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Orvex_Master_Event_Type(master), 254);
    EXPECT_EQ(Orvex_Master_Event_Slave(master), 0);
}

TEST_F(MasterWireTest, WaitEventTimesOutOnAnIdleMaster) {
    const auto start = std::chrono::steady_clock::now();
    Orvex_Master_WaitEvent(master, 100);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), 100);
    EXPECT_LT(waited.count(), 1000);
}

}  // namespace
}  // namespace orvex::test
