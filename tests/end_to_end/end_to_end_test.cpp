// Master and slave of this library in one process, over 127.0.0.1.
#include <cstring>
#include <numeric>

#include "core/crc32.hpp"
#include "end_to_end_fixture.hpp"
#include "end_to_end_jobs.hpp"
#include "slave/slave.hpp"

namespace orvex::test {
namespace {

TEST_F(EndToEndTest, EveryParameterKindArrivesAndEveryResultKindComesBack) {
    OrvexParameterList* p = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(p, -7);
    Orvex_Parameter_AddLong(p, 123456789);
    Orvex_Parameter_AddFloat(p, 1.5f);
    Orvex_Parameter_AddDouble(p, -2.25);
    Orvex_Parameter_AddQuad(p, int64_t{1} << 40);
    Orvex_Parameter_AddString(p, T("hello").c_str());
    void* mem = Orvex_AllocateMemory(3);
    std::memcpy(mem, "\1\2\3", 3);
    Orvex_Parameter_AddMem(p, mem, 3);
    // Names match without regard to case. (Each job's id may be reused by the next one once
    // its result has arrived, so they are awaited one at a time.)
    const std::pair<const char*, OrvexParameterList*> jobs[] = {{"check", p}, {"NoParams", nullptr}};
    for (const auto& [name, params] : jobs) {
        const int32_t id = Job(master, name, params);
        ASSERT_GT(id, 0);
        do {
            ASSERT_TRUE(NextEvent(master));
        } while (Orvex_Master_Event_Type(master) != 1);
        EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
        EXPECT_EQ(Orvex_Master_Event_JobInteger(master), 1) << name;
    }

    for (int32_t kind = 0; kind < kGiveKinds; ++kind) {
        OrvexParameterList* which = Orvex_Parameter_New();
        Orvex_Parameter_AddInteger(which, kind);
        const int32_t id = Job(master, "Give", which);
        ASSERT_GT(id, 0);
        do {
            ASSERT_TRUE(NextEvent(master));
        } while (Orvex_Master_Event_Type(master) != 1);
        EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
        const std::vector<uint8_t> expected = GiveResult(kind);
        ASSERT_EQ(Orvex_Master_Event_JobMemSize(master), static_cast<int32_t>(expected.size()));
        if (expected.empty()) {
            EXPECT_EQ(Orvex_Master_Event_JobMem(master), nullptr);
            continue;
        }
        int64_t quad = 0;
        int32_t integer = 0;
        float single = 0;
        double dbl = 0;
        switch (kind) {
            case 0:
            case 1:
                integer = kind == 0 ? Orvex_Master_Event_JobInteger(master)
                                    : Orvex_Master_Event_JobLong(master);
                EXPECT_EQ(std::memcmp(&integer, expected.data(), 4), 0);
                break;
            case 2:
                single = Orvex_Master_Event_JobFloat(master);
                EXPECT_EQ(single, 1.5f);
                break;
            case 3:
                dbl = Orvex_Master_Event_JobDouble(master);
                EXPECT_EQ(dbl, -2.25);
                break;
            case 4:
                quad = Orvex_Master_Event_JobQuad(master);
                EXPECT_EQ(quad, int64_t{1} << 40);
                break;
            case 5: {
                OrvexChar* text = Orvex_Master_Event_JobString(master);
                EXPECT_EQ(ViewOf(text), T("hello"));
                Orvex_FreeMemory(text);
                break;
            }
            default: {
                void* memory = Orvex_Master_Event_JobMem(master);
                EXPECT_EQ(std::memcmp(memory, expected.data(), expected.size()), 0);
                Orvex_FreeMemory(memory);
                break;
            }
        }
    }
}

TEST_F(EndToEndTest, ThousandJobsWithCallbacksEachDeliveredExactlyOnce) {
    constexpr int32_t kJobs = 1000;
    DeliveryLog log;
    std::vector<Tagged> tags(kJobs);
    for (int32_t i = 0; i < kJobs; ++i) {
        tags[static_cast<size_t>(i)] = {&log, i};
        OrvexParameterList* p = Orvex_Parameter_New();
        Orvex_Parameter_AddInteger(p, i);
        Orvex_Parameter_AddInteger(p, 1000000);
        ASSERT_GT(Job(master, "Add", p, &DeliveryLog::Record,
                      reinterpret_cast<intptr_t>(&tags[static_cast<size_t>(i)])),
                  0);
    }
    ASSERT_TRUE(log.WaitFor(3 * kJobs));
    std::vector<std::vector<int32_t>> types(kJobs);
    for (const Delivery& d : log.Calls()) {
        auto& seen = types[static_cast<size_t>(d.userData)];
        seen.push_back(d.type);
        if (d.type == 1) {
            int32_t value = 0;
            ASSERT_EQ(d.memory.size(), 4u);
            std::memcpy(&value, d.memory.data(), 4);
            EXPECT_EQ(value, d.userData + 1000000);
        }
    }
    for (int32_t i = 0; i < kJobs; ++i) {
        EXPECT_EQ(types[static_cast<size_t>(i)], (std::vector<int32_t>{3, 2, 1})) << i;
    }
    EXPECT_FALSE(log.WaitFor(3 * kJobs + 1, 20));  // nothing more
    EXPECT_EQ(Orvex_Master_Event(master), 0);
}

TEST_F(EndToEndTest, ReceiveThreadsWithTwoSlaves) {
    OrvexSlave* second = Orvex_Slave_Init(0, 2);
    ASSERT_NE(second, nullptr);
    RegisterJobs(second);
    Orvex_Master_ThreadReceive(master, 1);
    const int32_t added =
        Orvex_Master_AddSlave(master, T("127.0.0.1").c_str(), Slave::FromHandle(second)->Port(),
                              T("").c_str(), 0, T("").c_str(), T("").c_str(), 0, 5);
    ASSERT_EQ(added, 2);
    DeliveryLog log;
    constexpr int32_t kJobs = 200;
    std::vector<Tagged> tags(kJobs);
    for (int32_t i = 0; i < kJobs; ++i) {
        tags[static_cast<size_t>(i)] = {&log, i};
        OrvexParameterList* p = Orvex_Parameter_New();
        Orvex_Parameter_AddInteger(p, i);
        Orvex_Parameter_AddInteger(p, i);
        ASSERT_GT(Orvex_Master_DoJob(master, T("Add").c_str(), 1 + i % 2, p, &DeliveryLog::Record,
                                     reinterpret_cast<intptr_t>(&tags[static_cast<size_t>(i)]),
                                     nullptr, 0, 0, nullptr, 0, 0, 0),
                  0);
    }
    ASSERT_TRUE(log.WaitFor(3 * kJobs));
    int32_t finished = 0;
    for (const Delivery& d : log.Calls()) {
        if (d.type != 1) continue;
        ++finished;
        int32_t value = 0;
        std::memcpy(&value, d.memory.data(), 4);
        EXPECT_EQ(value, 2 * d.userData);
        EXPECT_EQ(d.slave, 1 + d.userData % 2);
    }
    EXPECT_EQ(finished, kJobs);
    Orvex_Master_RemoveSlave(master, 2);
    Orvex_Slave_DeInit(second);
}

TEST_F(EndToEndTest, MegabyteStreamToAJob) {
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    const int32_t id =
        Orvex_Master_DoJob(master, T("StreamCrc").c_str(), 1, nullptr, nullptr, 0, data.data(),
                           static_cast<int32_t>(data.size()), 0, nullptr, 0, 0, 0);
    ASSERT_GT(id, 0) << Narrow(ViewOf(Orvex_Master_GetLastError(master)));
    do {
        ASSERT_TRUE(NextEvent(master));
    } while (Orvex_Master_Event_Type(master) != 1);
    EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
    EXPECT_EQ(Orvex_Master_Event_JobInteger(master),
              static_cast<int32_t>(Crc32(data.data(), data.size())));
}

TEST_F(EndToEndTest, StreamRelayedFromOneMasterToAnother) {
    OrvexMaster* receiver = NewMaster();  // master number 2 on the slave
    std::vector<uint8_t> data(300000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
    OrvexParameterList* p = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(p, 42);
    EXPECT_EQ(Orvex_Master_DoJob(master, T("Relay").c_str(), 1, p, nullptr, 0, data.data(),
                                 static_cast<int32_t>(data.size()), 65536, nullptr, 0, 2, 0),
              1)
        << Narrow(ViewOf(Orvex_Master_GetLastError(master)));
    ASSERT_TRUE(RelayRecords::Instance().WaitFor(1));
    const RelayRecord record = RelayRecords::Instance().Records()[0];
    EXPECT_EQ(record.slave, 1);
    EXPECT_EQ(record.streamId, 1);  // the sender's master number on the slave
    EXPECT_EQ(record.name, "Relay");
    EXPECT_EQ(record.params, (std::vector<int32_t>{42}));
    EXPECT_EQ(record.state, 2);
    EXPECT_EQ(record.data, data);
    (void)receiver;

    // Relaying to a master number that is not connected, and while relaying is refused.
    EXPECT_EQ(Orvex_Master_DoJob(master, T("Relay").c_str(), 1, nullptr, nullptr, 0, data.data(),
                                 10, 0, nullptr, 0, 9, 0),
              0);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Master_GetLastError(master))),
              "Orvex_Master_DoJob(): stream target not found");
    Orvex_Slave_EnableStreamTransmission(slave, 1, 0);
    EXPECT_EQ(Orvex_Master_DoJob(master, T("Relay").c_str(), 1, nullptr, nullptr, 0, data.data(),
                                 10, 0, nullptr, 0, 2, 0),
              0);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Master_GetLastError(master))),
              "Orvex_Master_DoJob(): you are not allowed to send streams via this slave");
}

TEST_F(EndToEndTest, JobMessagesArriveBeforeTheResult) {
    DeliveryLog log;
    Tagged tag{&log, 5};
    const int32_t id =
        Job(master, "Talk", nullptr, &DeliveryLog::Record, reinterpret_cast<intptr_t>(&tag));
    ASSERT_TRUE(log.WaitFor(5));
    const auto calls = log.Calls();
    std::vector<int32_t> types;
    for (const Delivery& d : calls) {
        types.push_back(d.type);
        EXPECT_EQ(d.jobId, id);
    }
    EXPECT_EQ(types, (std::vector<int32_t>{3, 2, 4, 4, 1}));
    EXPECT_EQ(calls[2].memory, (std::vector<uint8_t>{'o', 'n', 'e'}));
    EXPECT_EQ(calls[3].memory, (std::vector<uint8_t>{'t', 'w', 'o'}));
}

TEST_F(EndToEndTest, PauseHoldsJobsUntilResume) {
    Orvex_Slave_Pause(slave);
    ASSERT_TRUE(NextEvent(master));
    EXPECT_EQ(Orvex_Master_Event_Type(master), 161);
    EXPECT_EQ(Orvex_Master_Event_Slave(master), 1);
    OrvexParameterList* p = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(p, 1);
    Orvex_Parameter_AddInteger(p, 2);
    const int32_t id = Job(master, "Add", p);
    ASSERT_TRUE(NextEvent(master));
    EXPECT_EQ(Orvex_Master_Event_Type(master), 3);
    EXPECT_EQ(Orvex_Master_CountSlaveJobs(master, 1), 1);
    EXPECT_FALSE(NextEvent(master, 30));  // queued, not started
    Orvex_Slave_Resume(slave);
    for (int32_t type : {162, 2, 1}) {
        ASSERT_TRUE(NextEvent(master));
        EXPECT_EQ(Orvex_Master_Event_Type(master), type);
    }
    EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
    EXPECT_EQ(Orvex_Master_Event_JobInteger(master), 3);
}

TEST_F(EndToEndTest, QueriesAndRefusals) {
    EXPECT_GE(Orvex_Master_PingSlave(master, 1), 0);
    EXPECT_EQ(Orvex_Master_CountSlaveWorkers(master, 1), 4);
    EXPECT_EQ(Orvex_Master_CountSlaveJobs(master, 1), 0);
    OrvexChar* list = Orvex_Master_GetSlaveJobInfos(master, 1, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_NE(Narrow(ViewOf(list)).find("StreamCrc"), std::string::npos);
    Orvex_FreeMemory(list);
    const int32_t id = Job(master, "NoSuchJob");
    ASSERT_TRUE(NextEvent(master));
    EXPECT_EQ(Orvex_Master_Event_Type(master), 6);
    EXPECT_EQ(Orvex_Master_Event_JobId(master), id);
}

TEST_F(EndToEndTest, KickAndShutdownAreSeenByTheMaster) {
    OrvexMaster* second = NewMaster();
    ASSERT_EQ(Orvex_Slave_KickMaster(slave, 1), 1);
    ASSERT_TRUE(NextEvent(master));
    EXPECT_EQ(Orvex_Master_Event_Type(master), 163);
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 0);

    Orvex_Slave_DeInit(slave);
    slave = nullptr;
    ASSERT_TRUE(NextEvent(second));
    EXPECT_EQ(Orvex_Master_Event_Type(second), 160);
    EXPECT_EQ(Orvex_Master_Event_Slave(second), 1);
    EXPECT_EQ(Orvex_Master_CountSlaves(second), 0);
}

}  // namespace
}  // namespace orvex::test
