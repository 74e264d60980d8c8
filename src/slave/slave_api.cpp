// C edge of the slave family: argument checks, error texts, and no exception into C.
#include <memory>
#include <span>

#include "Orvex.h"
#include "protocol/messages.hpp"
#include "slave/slave.hpp"

using namespace orvex;

namespace {

constexpr std::string_view kInvalidMaster = "invalid master number";

// Runs body, turning any exception into `failure`.
template <typename T, typename Body>
T Guarded(T failure, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

Slave& Of(OrvexSlave* handle) {
    return *Slave::FromHandle(handle);
}

// The entry of master numbers 1 to masterSlots; null (and the error text) otherwise.
MasterEntry* EntryOrError(Slave& slave, int32_t master, std::string_view function) {
    if (slave.Masters().Valid(master)) return &slave.Masters().At(master);
    slave.SetError(function, kInvalidMaster);
    return nullptr;
}

// Applies set to master, or with master 0 to every master connected now. Returns 1, or -1
// and the error text for a number outside 0 to masterSlots.
template <typename Set>
int32_t SetForMasters(Slave& slave, int32_t master, std::string_view function, Set set) {
    const MasterTable& masters = slave.Masters();
    if (master == 0) {
        for (int32_t m = 1; m <= masters.Slots(); ++m) {
            if (masters.At(m).connected.load()) set(masters.At(m));
        }
        return 1;
    }
    if (!masters.Valid(master)) {
        slave.SetError(function, kInvalidMaster);
        return -1;
    }
    set(masters.At(master));
    return 1;
}

}  // namespace

extern "C" {

ORVEX_API OrvexSlave* ORVEX_CALL Orvex_Slave_Init(int32_t port, int32_t workers) {
    return Guarded<OrvexSlave*>(nullptr, [&]() -> OrvexSlave* {
        std::unique_ptr<Slave> slave = Slave::Create(port, workers);
        return slave ? slave.release()->Handle() : nullptr;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_DeInit(OrvexSlave* slave) {
    return Guarded<int32_t>(0, [&] {
        std::unique_ptr<Slave> owned(Slave::FromHandle(slave));
        owned.reset();
        return 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetCallback(OrvexSlave* slave,
                                                     OrvexSlaveEventCallback callback,
                                                     intptr_t userData) {
    Of(slave).SetCallback(callback, userData);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetCompressionOptions(OrvexSlave* slave, int32_t threshold,
                                                               int32_t level) {
    Of(slave).SetCompression(threshold, level);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_ThreadReceive(OrvexSlave* slave, int32_t enable) {
    Of(slave).SetThreadReceive((enable & 0xFF) != 0);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetReceiveBlockSize(OrvexSlave* slave, int32_t size) {
    return Guarded<int32_t>(-1, [&] {
        if (size <= 0) {
            Of(slave).SetErrorText("invalid block size");
            return -1;
        }
        return Of(slave).SetReceiveBlockSize(size);
    });
}

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Slave_GetLastError(OrvexSlave* slave) {
    return Of(slave).LastErrorText();
}

// ---- Masters ------------------------------------------------------------------------------

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountMasters(OrvexSlave* slave) {
    return Of(slave).ConnectedMasters();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_IterateMasters(OrvexSlave* slave,
                                                        OrvexSlaveMasterIterator fn,
                                                        intptr_t userData) {
    Of(slave).IterateMasters(fn, userData);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterIP(OrvexSlave* slave, int32_t master) {
    return Guarded<int32_t>(0, [&] {
        const MasterEntry* entry = EntryOrError(Of(slave), master, "Orvex_Slave_GetMasterIP");
        return entry != nullptr ? entry->peerAddress.load() : 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterPort(OrvexSlave* slave, int32_t master) {
    return Guarded<int32_t>(0, [&] {
        const MasterEntry* entry = EntryOrError(Of(slave), master, "Orvex_Slave_GetMasterPort");
        return entry != nullptr ? entry->peerPort.load() : 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterXtraData(OrvexSlave* slave, int32_t master,
                                                           int32_t value) {
    return Guarded<int32_t>(0, [&] {
        MasterEntry* entry = EntryOrError(Of(slave), master, "Orvex_Slave_SetMasterXtraData");
        if (entry == nullptr) return 0;
        entry->xtraData.store(value);
        return 1;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterXtraData(OrvexSlave* slave, int32_t master) {
    return Guarded<int32_t>(0, [&] {
        const MasterEntry* entry = EntryOrError(Of(slave), master, "Orvex_Slave_GetMasterXtraData");
        return entry != nullptr ? entry->xtraData.load() : 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_KickMaster(OrvexSlave* slave, int32_t master) {
    return Guarded<int32_t>(0, [&] {
        if (EntryOrError(Of(slave), master, "Orvex_Slave_KickMaster") == nullptr) return 0;
        Of(slave).KickMaster(master);
        return 1;
    });
}

// ---- Jobs ---------------------------------------------------------------------------------

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_AddJob(OrvexSlave* slave, const OrvexChar* name,
                                                const OrvexChar* description,
                                                OrvexJobFunction function, int32_t useCdecl) {
    return Guarded<int32_t>(0, [&] {
        Of(slave).AddJob(ViewOf(name), ViewOf(description), function, useCdecl != 0);
        return 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountJobs(OrvexSlave* slave) {
    return Of(slave).CountJobs();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountMasterJobs(OrvexSlave* slave, int32_t master) {
    return Guarded<int32_t>(-1, [&] {
        const MasterEntry* entry = EntryOrError(Of(slave), master, "Orvex_Slave_CountMasterJobs");
        return entry != nullptr ? entry->outstandingJobs.load() : -1;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterJobLimit(OrvexSlave* slave, int32_t master,
                                                           int32_t limit) {
    return Guarded<int32_t>(-1, [&] {
        return SetForMasters(Of(slave), master, "Orvex_Slave_SetMasterJobLimit",
                             [&](MasterEntry& entry) { entry.jobLimit.store(limit); });
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterJobAccessCheck(OrvexSlave* slave, int32_t master,
                                                                 OrvexJobAccessCheck check) {
    return Guarded<int32_t>(-1, [&] {
        return SetForMasters(Of(slave), master, "Orvex_Slave_SetMasterJobAccessCheck",
                             [&](MasterEntry& entry) { entry.accessCheck.store(check); });
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Pause(OrvexSlave* slave) {
    return Guarded<int32_t>(0, [&] {
        Of(slave).Pause();
        return 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Resume(OrvexSlave* slave) {
    return Guarded<int32_t>(0, [&] {
        Of(slave).Resume();
        return 0;
    });
}

// ---- Events -------------------------------------------------------------------------------

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_LogEvents(OrvexSlave* slave, int32_t enable) {
    Of(slave).SetLogEvents((enable & 0xFF) != 0);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event(OrvexSlave* slave) {
    return Guarded<int32_t>(0, [&] { return Of(slave).Events().Next() ? 1 : 0; });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event_Type(OrvexSlave* slave) {
    return Of(slave).Events().CurrentType();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event_Master(OrvexSlave* slave) {
    return Of(slave).Events().CurrentMaster();
}

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Slave_Event_Job(OrvexSlave* slave) {
    return Of(slave).Events().CurrentText();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Job_SendMessage(OrvexSlave* slave, int32_t master,
                                                         int32_t jobId, const void* data,
                                                         int32_t length) {
    return Guarded<int32_t>(0, [&] {
        if (length < 0 || (length > 0 && data == nullptr)) return 0;
        const auto head = protocol::BuildJobPayloadHead(protocol::kStatusMessage, jobId, length);
        Of(slave).SendTo(master, head,
                         {static_cast<const uint8_t*>(data), static_cast<size_t>(length)});
        return 0;
    });
}

// ---- Streams ------------------------------------------------------------------------------

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_FreeStream(OrvexSlave* slave,
                                                    OrvexReceivedStream* stream) {
    return Guarded<int32_t>(0, [&] {
        if (stream != nullptr) Of(slave).FreeStream(stream);
        return 0;
    });
}

ORVEX_API int32_t ORVEX_CALL Orvex_Slave_EnableStreamTransmission(OrvexSlave* slave, int32_t master,
                                                                  int32_t enable) {
    return Guarded<int32_t>(-1, [&] {
        const bool allowed = (enable & 0xFF) != 0;
        return SetForMasters(Of(slave), master, "Orvex_Slave_EnableStreamTransmission",
                             [&](MasterEntry& entry) { entry.streamRelayAllowed.store(allowed); });
    });
}

}  // extern "C"
