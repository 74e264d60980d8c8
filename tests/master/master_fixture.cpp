#include "master_fixture.hpp"

#include <poll.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace orvex::test {
int32_t ORVEX_CALL RelayLog::Handler(OrvexMaster* master, int32_t slave, int32_t streamId,
                                     const OrvexChar* jobName, OrvexParameterList* params,
                                     OrvexReceivedStream* stream) {
    RelayLog& log = Instance();
    RelayCall call{master, slave, streamId, Narrow(ViewOf(jobName)), params != nullptr, {}, stream};
    while (params != nullptr && Orvex_Parameter_Count(params) > 0) {
        call.params.push_back(Orvex_Parameter_GetInteger(params));
    }
    {
        std::scoped_lock guard(log.lock_);
        log.calls_.push_back(call);
        log.changed_.notify_all();
    }
    if (log.waitForEnd.load()) {
        // The stream has no notification of its own: a handler watches its state.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::atomic_ref<int32_t> state(stream->state);
        while (state.load() == 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        log.finalState = state.load();
    }
    return 0;
}

RelayLog& RelayLog::Instance() {
    static RelayLog log;
    return log;
}

void RelayLog::Reset() {
    std::scoped_lock guard(lock_);
    calls_.clear();
    waitForEnd = false;
    finalState = 0;
}

bool RelayLog::WaitFor(size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return calls_.size() >= count; });
}

std::vector<RelayCall> RelayLog::Calls() {
    std::scoped_lock guard(lock_);
    return calls_;
}

Text T(std::string_view ascii) {
    return FromAscii(ascii);
}

int32_t ORVEX_CALL CallbackLog::Record(OrvexMaster*, int32_t slave, int32_t jobId, int32_t type,
                                       void* memory, int32_t memorySize, intptr_t userData) {
    auto* log = reinterpret_cast<CallbackLog*>(userData);
    CallbackCall call{slave, jobId, type, {}, userData};
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

bool CallbackLog::WaitFor(size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return calls_.size() >= count; });
}

std::vector<CallbackCall> CallbackLog::Calls() {
    std::scoped_lock guard(lock_);
    return calls_;
}

void MasterWireTest::SetUp() {
    RelayLog::Instance().Reset();
    master = Orvex_Master_Init(&RelayLog::Handler);
    ASSERT_NE(master, nullptr);
}

void MasterWireTest::TearDown() {
    if (master != nullptr) Orvex_Master_DeInit(master);
    for (net::Handle listener : listeners_) net::Close(listener);
}

int32_t MasterWireTest::Add(const std::string& host, int32_t port, const std::string& proxyHost) {
    return Orvex_Master_AddSlave(master, T(host).c_str(), port, T(proxyHost).c_str(), 0,
                                 T("").c_str(), T("").c_str(), 0, 5);
}

RawPeer MasterWireTest::AddFakeSlave(int32_t* number) {
    const net::Handle listener = net::Listen(0, true);
    EXPECT_NE(listener, net::kInvalidHandle);
    listeners_.push_back(listener);
    const int32_t slave = Add("127.0.0.1", net::LocalPort(listener));
    EXPECT_GT(slave, 0);
    if (number != nullptr) *number = slave;
    pollfd ready{listener, POLLIN, 0};
    poll(&ready, 1, 5000);
    return RawPeer(net::Accept(listener));
}

std::string MasterWireTest::LastError() {
    const OrvexChar* text = Orvex_Master_GetLastError(master);
    return text == nullptr ? std::string("(none)") : Narrow(ViewOf(text));
}

bool MasterWireTest::NextEvent(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Orvex_Master_Event(master) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        Orvex_Master_WaitEvent(master, static_cast<int32_t>(left));
    }
    return true;
}

int32_t MasterWireTest::Job(const std::string& name, int32_t slave, OrvexParameterList* params,
                            OrvexMasterCallback callback, intptr_t userData) {
    return Orvex_Master_DoJob(master, T(name).c_str(), slave, params, callback, userData, nullptr,
                              0, 0, nullptr, 0, 0, 0);
}

}  // namespace orvex::test
