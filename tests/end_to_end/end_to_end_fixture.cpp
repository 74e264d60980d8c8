#include "end_to_end_fixture.hpp"

#include <chrono>
#include <thread>

#include "end_to_end_jobs.hpp"
#include "slave/slave.hpp"

namespace orvex::test {

Text T(std::string_view ascii) {
    return FromAscii(ascii);
}

int32_t ORVEX_CALL DeliveryLog::Record(OrvexMaster*, int32_t slave, int32_t jobId, int32_t type,
                                       void* memory, int32_t memorySize, intptr_t userData) {
    const auto* tagged = reinterpret_cast<const Tagged*>(userData);
    DeliveryLog* log = tagged->log;
    Delivery call{slave, jobId, type, {}, tagged->tag};
    if (memory != nullptr) {
        const auto* bytes = static_cast<const uint8_t*>(memory);
        call.memory.assign(bytes, bytes + memorySize);
        Orvex_FreeMemory(memory);
    }
    {
        std::scoped_lock guard(log->lock_);
        log->calls_.push_back(std::move(call));
        log->changed_.notify_all();
    }
    return 0;
}

bool DeliveryLog::WaitFor(size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return calls_.size() >= count; });
}

std::vector<Delivery> DeliveryLog::Calls() {
    std::scoped_lock guard(lock_);
    return calls_;
}

int32_t ORVEX_CALL SlaveEventLog::Record(OrvexSlave*, int32_t master, const OrvexChar*,
                                         int32_t type, intptr_t userData) {
    auto* log = reinterpret_cast<SlaveEventLog*>(userData);
    {
        std::scoped_lock guard(log->lock_);
        log->events_.emplace_back(type, master);
        log->changed_.notify_all();
    }
    return 0;
}

bool SlaveEventLog::WaitFor(int32_t type, size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        size_t seen = 0;
        for (const auto& event : events_) seen += event.first == type ? 1 : 0;
        return seen >= count;
    });
}

int32_t ORVEX_CALL RelayRecords::Handler(OrvexMaster* master, int32_t slave, int32_t streamId,
                                         const OrvexChar* jobName, OrvexParameterList* params,
                                         OrvexReceivedStream* stream) {
    RelayRecord record{slave, streamId, Narrow(ViewOf(jobName)), {}, 0, {}};
    while (params != nullptr && Orvex_Parameter_Count(params) > 0) {
        record.params.push_back(Orvex_Parameter_GetInteger(params));
    }
    // A relay handler watches its stream: the library has no notification for it.
    std::atomic_ref<int32_t> state(stream->state);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (state.load() == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    record.state = state.load();
    const auto* data = static_cast<const uint8_t*>(stream->data);
    if (data != nullptr) record.data.assign(data, data + stream->size);
    Orvex_Master_FreeStream(master, stream);
    RelayRecords& records = Instance();
    {
        std::scoped_lock guard(records.lock_);
        records.records_.push_back(std::move(record));
        records.changed_.notify_all();
    }
    return 0;
}

RelayRecords& RelayRecords::Instance() {
    static RelayRecords records;
    return records;
}

void RelayRecords::Reset() {
    std::scoped_lock guard(lock_);
    records_.clear();
}

bool RelayRecords::WaitFor(size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return records_.size() >= count; });
}

std::vector<RelayRecord> RelayRecords::Records() {
    std::scoped_lock guard(lock_);
    return records_;
}

void EndToEndTest::SetUp() {
    RelayRecords::Instance().Reset();
    slave = Orvex_Slave_Init(0, 4);
    ASSERT_NE(slave, nullptr);
    port = Slave::FromHandle(slave)->Port();
    Orvex_Slave_SetCallback(slave, &SlaveEventLog::Record,
                            reinterpret_cast<intptr_t>(&slaveEvents));
    RegisterJobs(slave);
    master = NewMaster();
}

void EndToEndTest::TearDown() {
    for (OrvexMaster* m : masters_) Orvex_Master_DeInit(m);
    if (slave != nullptr) Orvex_Slave_DeInit(slave);
}

OrvexMaster* EndToEndTest::NewMaster(int32_t* slaveNumber) {
    OrvexMaster* m = Orvex_Master_Init(&RelayRecords::Handler);
    EXPECT_NE(m, nullptr);
    masters_.push_back(m);
    const int32_t number = Orvex_Master_AddSlave(m, T("127.0.0.1").c_str(), port, T("").c_str(), 0,
                                                 T("").c_str(), T("").c_str(), 0, 5);
    EXPECT_GT(number, 0);
    if (slaveNumber != nullptr) *slaveNumber = number;
    // The slave has registered the connection (event 2) before the next master connects, so
    // master numbers on the slave follow the order of NewMaster.
    EXPECT_TRUE(slaveEvents.WaitFor(2, masters_.size()));
    return m;
}

bool EndToEndTest::NextEvent(OrvexMaster* m, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Orvex_Master_Event(m) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        Orvex_Master_WaitEvent(m, static_cast<int32_t>(left));
    }
    return true;
}

int32_t EndToEndTest::Job(OrvexMaster* m, const std::string& name, OrvexParameterList* params,
                          OrvexMasterCallback callback, intptr_t userData) {
    return Orvex_Master_DoJob(m, T(name).c_str(), 1, params, callback, userData, nullptr, 0, 0,
                              nullptr, 0, 0, 0);
}

}  // namespace orvex::test
