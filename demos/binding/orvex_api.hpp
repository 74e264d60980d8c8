// OrvexApi: the demos' table of the library's exports, one function pointer per export,
// named like the export and typed with the export's own declaration in Orvex.h. The demos do
// not link the library: loadOrvexApi loads it at run time and fills the table by name, in the
// order below; every later library call goes through the table.
#pragma once

#include <bit>

#include "Orvex.h"
#include "binding/dynamic_library.hpp"

// The bound exports in lookup order: X(name, inStreamTable). The full table has all 136
// (30 slave, 34 master, 19 cache, 28 SQLite, 15 parameter, 7 return-value functions and 3 of
// the library frame); the stream test's table leaves out the two marked 0. Orvex_Parameter_Count
// is the one export that no table binds.
// clang-format off
#define ORVEX_DEMO_EXPORTS(X) \
    X(Orvex_Slave_Init, 1) \
    X(Orvex_Slave_DeInit, 1) \
    X(Orvex_Slave_GetLastError, 1) \
    X(Orvex_Slave_Pause, 1) \
    X(Orvex_Slave_Resume, 1) \
    X(Orvex_Slave_FreeStream, 1) \
    X(Orvex_Slave_CountMasters, 1) \
    X(Orvex_Slave_IterateMasters, 1) \
    X(Orvex_Slave_KickMaster, 1) \
    X(Orvex_Slave_SetMasterJobLimit, 1) \
    X(Orvex_Slave_EnableStreamTransmission, 0) \
    X(Orvex_Slave_CountMasterJobs, 1) \
    X(Orvex_Slave_GetMasterIP, 1) \
    X(Orvex_Slave_GetMasterPort, 1) \
    X(Orvex_Slave_GetMasterXtraData, 1) \
    X(Orvex_Slave_SetMasterXtraData, 1) \
    X(Orvex_Slave_SetMasterJobAccessCheck, 1) \
    X(Orvex_Slave_CountJobs, 1) \
    X(Orvex_Slave_SetReceiveBlockSize, 1) \
    X(Orvex_Slave_SetCompressionOptions, 1) \
    X(Orvex_Slave_SetCallback, 1) \
    X(Orvex_Slave_ThreadReceive, 1) \
    X(Orvex_Slave_EnableStatistics, 1) \
    X(Orvex_Slave_AddJob, 1) \
    X(Orvex_Slave_LogEvents, 1) \
    X(Orvex_Slave_Event, 1) \
    X(Orvex_Slave_Event_Type, 1) \
    X(Orvex_Slave_Event_Master, 1) \
    X(Orvex_Slave_Event_Job, 1) \
    X(Orvex_Slave_Job_SendMessage, 1) \
    X(Orvex_Master_Init, 1) \
    X(Orvex_Master_DeInit, 1) \
    X(Orvex_Master_GetLastError, 1) \
    X(Orvex_Master_FreeStream, 0) \
    X(Orvex_Master_SetReceiveBlockSize, 1) \
    X(Orvex_Master_SetCompressionOptions, 1) \
    X(Orvex_Master_SetStreamOptions, 1) \
    X(Orvex_Master_ThreadReceive, 1) \
    X(Orvex_Master_SetCallback, 1) \
    X(Orvex_Master_AddSlave, 1) \
    X(Orvex_Master_RemoveSlave, 1) \
    X(Orvex_Master_CountSlaves, 1) \
    X(Orvex_Master_IterateSlaves, 1) \
    X(Orvex_Master_GetSlaveIP, 1) \
    X(Orvex_Master_GetSlaveXtraData, 1) \
    X(Orvex_Master_SetSlaveXtraData, 1) \
    X(Orvex_Master_PingSlave, 1) \
    X(Orvex_Master_GetSlaveJobInfos, 1) \
    X(Orvex_Master_CountSlaveJobs, 1) \
    X(Orvex_Master_CountSlaveWorkers, 1) \
    X(Orvex_Master_DoJob, 1) \
    X(Orvex_Master_WaitEvent, 1) \
    X(Orvex_Master_Event, 1) \
    X(Orvex_Master_Event_Type, 1) \
    X(Orvex_Master_Event_Slave, 1) \
    X(Orvex_Master_Event_JobId, 1) \
    X(Orvex_Master_Event_JobMem, 1) \
    X(Orvex_Master_Event_JobMemSize, 1) \
    X(Orvex_Master_Event_JobLong, 1) \
    X(Orvex_Master_Event_JobInteger, 1) \
    X(Orvex_Master_Event_JobFloat, 1) \
    X(Orvex_Master_Event_JobDouble, 1) \
    X(Orvex_Master_Event_JobQuad, 1) \
    X(Orvex_Master_Event_JobString, 1) \
    X(Orvex_Cache_New, 1) \
    X(Orvex_Cache_Config, 1) \
    X(Orvex_Cache_CleanUp, 1) \
    X(Orvex_Cache_Optimize, 1) \
    X(Orvex_Cache_Flush, 1) \
    X(Orvex_Cache_Free, 1) \
    X(Orvex_Cache_SaveToFile, 1) \
    X(Orvex_Cache_LoadFromFile, 1) \
    X(Orvex_Cache_GetSize, 1) \
    X(Orvex_Cache_isCached, 1) \
    X(Orvex_Cache_AddEntry, 1) \
    X(Orvex_Cache_DeleteEntry, 1) \
    X(Orvex_Cache_Examine, 1) \
    X(Orvex_Cache_NextEntry, 1) \
    X(Orvex_Cache_GetMem, 1) \
    X(Orvex_Cache_GetMemSize, 1) \
    X(Orvex_Cache_GetAge, 1) \
    X(Orvex_Cache_GetXtraData, 1) \
    X(Orvex_Cache_GetName, 1) \
    X(Orvex_SQLite_Create, 1) \
    X(Orvex_SQLite_Open, 1) \
    X(Orvex_SQLite_Close, 1) \
    X(Orvex_SQLite_Update, 1) \
    X(Orvex_SQLite_UpdateSync, 1) \
    X(Orvex_SQLite_Query, 1) \
    X(Orvex_SQLite_EndQuery, 1) \
    X(Orvex_SQLite_SelectRow, 1) \
    X(Orvex_SQLite_GetAsString, 1) \
    X(Orvex_SQLite_GetAsLong, 1) \
    X(Orvex_SQLite_GetAsQuad, 1) \
    X(Orvex_SQLite_GetAsDouble, 1) \
    X(Orvex_SQLite_GetAsBlobPointer, 1) \
    X(Orvex_SQLite_GetAsBlobSize, 1) \
    X(Orvex_SQLite_GetAsBlobFlags, 1) \
    X(Orvex_SQLite_GetNumColumns, 1) \
    X(Orvex_SQLite_GetColumnTypeAsString, 1) \
    X(Orvex_SQLite_GetColumnName, 1) \
    X(Orvex_SQLite_StoreRow, 1) \
    X(Orvex_SQLite_StoreAsLong, 1) \
    X(Orvex_SQLite_StoreAsQuad, 1) \
    X(Orvex_SQLite_StoreAsDouble, 1) \
    X(Orvex_SQLite_StoreAsString, 1) \
    X(Orvex_SQLite_StoreAsBlob, 1) \
    X(Orvex_SQLite_GetLastErrorString, 1) \
    X(Orvex_SQLite_SetCompressionLevel, 1) \
    X(Orvex_SQLite_Flush, 1) \
    X(Orvex_SQLite_GetSQLiteVersion, 1) \
    X(Orvex_Parameter_New, 1) \
    X(Orvex_Parameter_AddMem, 1) \
    X(Orvex_Parameter_AddLong, 1) \
    X(Orvex_Parameter_AddInteger, 1) \
    X(Orvex_Parameter_AddFloat, 1) \
    X(Orvex_Parameter_AddDouble, 1) \
    X(Orvex_Parameter_AddQuad, 1) \
    X(Orvex_Parameter_AddString, 1) \
    X(Orvex_Parameter_GetMem, 1) \
    X(Orvex_Parameter_GetLong, 1) \
    X(Orvex_Parameter_GetInteger, 1) \
    X(Orvex_Parameter_GetFloat, 1) \
    X(Orvex_Parameter_GetDouble, 1) \
    X(Orvex_Parameter_GetQuad, 1) \
    X(Orvex_Parameter_GetString, 1) \
    X(Orvex_Return_Memory, 1) \
    X(Orvex_Return_Long, 1) \
    X(Orvex_Return_Integer, 1) \
    X(Orvex_Return_Float, 1) \
    X(Orvex_Return_Double, 1) \
    X(Orvex_Return_Quad, 1) \
    X(Orvex_Return_String, 1) \
    X(Orvex_AllocateMemory, 1) \
    X(Orvex_FreeMemory, 1) \
    X(Orvex_GetVersion, 1)
// clang-format on

namespace orvex::demo {

#define ORVEX_DEMO_ENTRY(name, inStreamTable) decltype(&::name) name = nullptr;
// Every entry starts null and stays null for an export that the library lacks.
struct OrvexApi {
    ORVEX_DEMO_EXPORTS(ORVEX_DEMO_ENTRY)
};
#undef ORVEX_DEMO_ENTRY

#define ORVEX_DEMO_COUNT_ALL(name, inStreamTable) +1
#define ORVEX_DEMO_COUNT_STREAM(name, inStreamTable) +(inStreamTable)
inline constexpr int kFullTableEntries = 0 ORVEX_DEMO_EXPORTS(ORVEX_DEMO_COUNT_ALL);
inline constexpr int kStreamTableEntries = 0 ORVEX_DEMO_EXPORTS(ORVEX_DEMO_COUNT_STREAM);
#undef ORVEX_DEMO_COUNT_ALL
#undef ORVEX_DEMO_COUNT_STREAM
static_assert(kFullTableEntries == 136 && kStreamTableEntries == 134);

enum class BindingTable {
    Full,        // the 136 entries of the master and slave demos
    StreamTest,  // the stream test's 134 entries
};

// Loads the library file and fills `api` by name, in table order. Returns the module handle,
// or null when the file cannot be loaded (every entry then stays null). Shows no message.
ModuleHandle loadOrvexApi(const char* fileName, OrvexApi& api,
                          BindingTable table = BindingTable::Full);

// The number of non-null entries of `api`.
int CountBoundEntries(const OrvexApi& api);

// The process's own table: filled once by the demo's start-up, before any window or thread
// exists, and read-only afterwards, so library threads may read it without a lock.
OrvexApi& TheApi();

}  // namespace orvex::demo
