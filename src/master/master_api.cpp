// C edge of the master role: converts arguments and results, and keeps exceptions out of C.
#include <algorithm>
#include <cstring>
#include <memory>

#include "Orvex.h"
#include "core/memory.hpp"
#include "master/master.hpp"
#include "params/parameter_list.hpp"
#include "params/value_bytes.hpp"

using namespace orvex;

namespace {

template <typename F>
auto Guarded(F&& body, decltype(body()) failure) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// Reads a number from the start of the current event's memory once: the memory is freed and
// stops being current. Bytes that the memory lacks read as 0.
template <typename T>
T TakeValue(OrvexMaster* handle, const char* accessor) {
    Master* master = Master::From(handle);
    void* memory = master->CurrentMemory(accessor, true);
    if (memory == nullptr) return T{};
    uint8_t bytes[sizeof(T)] = {};
    const auto available = std::min<size_t>(sizeof(T), static_cast<size_t>(BlockSize(memory)));
    std::memcpy(bytes, memory, available);
    FreeBlock(memory);
    return LoadLittle<T>(bytes);
}

}  // namespace

extern "C" {

ORVEX_API OrvexMaster* ORVEX_CALL Orvex_Master_Init(OrvexMasterRelayHandler relayHandler) {
    return Guarded(
        [&]() -> OrvexMaster* {
            std::unique_ptr<Master> master = Master::Create(relayHandler);
            return master ? master.release()->Handle() : nullptr;
        },
        nullptr);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_DeInit(OrvexMaster* master) {
    delete Master::From(master);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetCallback(OrvexMaster* master,
                                                      OrvexMasterCallback callback,
                                                      intptr_t userData) {
    Master::From(master)->SetCallback(callback, userData);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetCompressionOptions(OrvexMaster* master,
                                                                int32_t threshold, int32_t level) {
    Master::From(master)->SetCompressionOptions(threshold, level);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetStreamOptions(OrvexMaster* master, int32_t timeout,
                                                           int32_t retries) {
    Master::From(master)->SetStreamOptions(timeout, retries);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetReceiveBlockSize(OrvexMaster* master, int32_t size) {
    return Guarded([&] { return Master::From(master)->SetReceiveBlockSize(size); }, -1);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_ThreadReceive(OrvexMaster* master, int32_t enable) {
    Master::From(master)->SetThreadReceive(enable);
    return 0;
}

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Master_GetLastError(OrvexMaster* master) {
    return Master::From(master)->GetLastError();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_AddSlave(OrvexMaster* master, const OrvexChar* host,
                                                   int32_t port, const OrvexChar* proxyHost,
                                                   int32_t, const OrvexChar*, const OrvexChar*,
                                                   int32_t, int32_t) {
    return Guarded(
        [&] { return Master::From(master)->AddSlave(ViewOf(host), port, ViewOf(proxyHost)); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_RemoveSlave(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->RemoveSlave(slave); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaves(OrvexMaster* master) {
    return Master::From(master)->CountSlaves();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_IterateSlaves(OrvexMaster* master,
                                                        OrvexMasterSlaveIterator fn,
                                                        intptr_t userData) {
    return Guarded(
        [&] {
            Master::From(master)->IterateSlaves(fn, userData);
            return 0;
        },
        0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_GetSlaveIP(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->GetSlaveIP(slave); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetSlaveXtraData(OrvexMaster* master, int32_t slave,
                                                           int32_t value) {
    return Guarded([&] { return Master::From(master)->SetSlaveXtraData(slave, value); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_GetSlaveXtraData(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->GetSlaveXtraData(slave); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_DoJob(
    OrvexMaster* master, const OrvexChar* jobName, int32_t slave, OrvexParameterList* params,
    OrvexMasterCallback callback, intptr_t userData, void* streamData, int32_t streamSize,
    int32_t blockSize, OrvexMasterProgressCallback progress, intptr_t progressUserData,
    int32_t targetMaster, int32_t priority) {
    JobOrder order;
    order.name = ViewOf(jobName);
    order.slave = slave;
    order.params = FromHandle(params);
    order.callback = callback;
    order.userData = userData;
    order.streamData = static_cast<const uint8_t*>(streamData);
    order.streamSize = streamSize;
    order.blockSize = blockSize;
    order.progress = progress;
    order.progressUserData = progressUserData;
    order.target = targetMaster;
    order.priority = priority;
    return Guarded([&] { return Master::From(master)->DoJob(order); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_FreeStream(OrvexMaster* master,
                                                     OrvexReceivedStream* stream) {
    return Guarded([&] { return Master::From(master)->FreeStream(stream); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event(OrvexMaster* master) {
    return Guarded([&] { return Master::From(master)->TakeEvent(); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_Type(OrvexMaster* master) {
    return Master::From(master)->CurrentEvent().type;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_Slave(OrvexMaster* master) {
    return Master::From(master)->CurrentEvent().slave;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobId(OrvexMaster* master) {
    return Master::From(master)->CurrentEvent().jobId;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobMemSize(OrvexMaster* master) {
    return Master::From(master)->CurrentEvent().memorySize;
}

ORVEX_API void* ORVEX_CALL Orvex_Master_Event_JobMem(OrvexMaster* master) {
    return Guarded(
        [&] { return Master::From(master)->CurrentMemory("Orvex_Master_Event_JobMem", false); },
        nullptr);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobLong(OrvexMaster* master) {
    return Guarded([&] { return TakeValue<int32_t>(master, "Orvex_Master_Event_JobLong"); }, 0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobInteger(OrvexMaster* master) {
    return Guarded([&] { return TakeValue<int32_t>(master, "Orvex_Master_Event_JobInteger"); }, 0);
}

ORVEX_API int64_t ORVEX_CALL Orvex_Master_Event_JobQuad(OrvexMaster* master) {
    return Guarded([&] { return TakeValue<int64_t>(master, "Orvex_Master_Event_JobQuad"); },
                   int64_t{0});
}

ORVEX_API float ORVEX_CALL Orvex_Master_Event_JobFloat(OrvexMaster* master) {
    return Guarded([&] { return TakeValue<float>(master, "Orvex_Master_Event_JobFloat"); }, 0.0f);
}

ORVEX_API double ORVEX_CALL Orvex_Master_Event_JobDouble(OrvexMaster* master) {
    return Guarded([&] { return TakeValue<double>(master, "Orvex_Master_Event_JobDouble"); }, 0.0);
}

// The text block is handed over; one that lacks a terminator gains one, so that the caller
// never reads past it.
ORVEX_API OrvexChar* ORVEX_CALL Orvex_Master_Event_JobString(OrvexMaster* master) {
    return Guarded(
        [&]() -> OrvexChar* {
            void* memory =
                Master::From(master)->CurrentMemory("Orvex_Master_Event_JobString", true);
            if (memory == nullptr) return nullptr;
            const int32_t size = BlockSize(memory);
            const int32_t chars = size / kCharSize;
            const auto* text = static_cast<const Char*>(memory);
            if (std::find(text, text + chars, Char{0}) == text + chars) {
                void* grown = ResizeBlock(memory, int64_t{chars + 1} * kCharSize);
                if (grown == nullptr) {
                    FreeBlock(memory);
                    return nullptr;
                }
                memory = grown;
            }
            return static_cast<OrvexChar*>(memory);
        },
        nullptr);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_WaitEvent(OrvexMaster* master, int32_t timeout) {
    return Guarded(
        [&] {
            Master::From(master)->WaitEvent(timeout);
            return 0;
        },
        0);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_PingSlave(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->PingSlave(slave); }, -1);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaveJobs(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->CountSlaveJobs(slave); }, -1);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaveWorkers(OrvexMaster* master, int32_t slave) {
    return Guarded([&] { return Master::From(master)->CountSlaveWorkers(slave); }, -1);
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_Master_GetSlaveJobInfos(OrvexMaster* master, int32_t slave,
                                                              int32_t refresh) {
    return Guarded([&] { return Master::From(master)->GetSlaveJobInfos(slave, refresh != 0); },
                   static_cast<OrvexChar*>(nullptr));
}

}  // extern "C"
