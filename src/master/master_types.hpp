// Application function types and event numbers of the master role.
#pragma once

#include <cstdint>

#include "Orvex.h"

namespace orvex {

using MasterCallback = OrvexMasterCallback;
using ProgressCallback = OrvexMasterProgressCallback;
using RelayHandler = OrvexMasterRelayHandler;
using SlaveIterator = OrvexMasterSlaveIterator;

// Event types the master makes itself; the others are the slave's status codes as they came.
inline constexpr int32_t kEventFinished = 1;
inline constexpr int32_t kEventMessage = 4;
inline constexpr int32_t kEventUnknownJob = 8;
inline constexpr int32_t kEventGoodbye = 160;
inline constexpr int32_t kEventUnknownMessage = 164;
inline constexpr int32_t kEventReceiveError = 254;
// Status codes from this value up concern the whole slave rather than one job.
inline constexpr int32_t kFirstSlaveEvent = 160;

// States of a received stream.
inline constexpr int32_t kStreamReceiving = 1;
inline constexpr int32_t kStreamComplete = 2;
inline constexpr int32_t kStreamFailed = 3;
inline constexpr int32_t kStreamCanceled = 4;

}  // namespace orvex
