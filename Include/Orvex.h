/*
 * Orvex: distributing work over TCP.
 *
 * One header for C (C99) and C++, for both builds of the library:
 *   - the 8-bit build (libOrvex.so): OrvexChar is char;
 *   - the Unicode build (libOrvexUnicode.so, compiled with ORVEX_UNICODE defined):
 *     OrvexChar is char16_t, texts are UTF-16LE with a 2-byte terminator.
 * Define ORVEX_UNICODE before including this header to use the Unicode build.
 *
 * Conventions that hold for every export:
 *   - Handles (OrvexMaster*, OrvexSlave*, ...) are opaque; the library never validates
 *     them. Each is released by its own call and must not be used afterwards.
 *   - Memory blocks that cross the interface come from Orvex_AllocateMemory: they are
 *     zero-filled, know their own size and are released with Orvex_FreeMemory.
 *   - Truth values are 1 and 0. Failures are reported by return value, never by exception.
 *   - Text results come in three kinds, each export says which:
 *       result buffer   valid until the same thread calls another export that returns a
 *                       text this way; neither freed nor kept by the caller;
 *       instance-owned  kept by the instance until it replaces or frees it;
 *       caller-owned    a memory block released by the caller with Orvex_FreeMemory.
 */
#ifndef ORVEX_H
#define ORVEX_H

#include <stddef.h>
#include <stdint.h>

#define ORVEX_VERSION_MAJOR 1
#define ORVEX_VERSION_MINOR 0
#define ORVEX_VERSION_PATCH 3
#define ORVEX_VERSION_BUILD 2
#define ORVEX_VERSION_TEXT "1.0.3.2"

/* Calling convention of every export and every application function: stdcall on 32-bit
 * x86, the platform's default elsewhere. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define ORVEX_CALL __stdcall
#define ORVEX_CDECL __cdecl
#else
#define ORVEX_CALL __attribute__((stdcall))
#define ORVEX_CDECL __attribute__((cdecl))
#endif
#else
#define ORVEX_CALL
#define ORVEX_CDECL
#endif

#if defined(_WIN32)
#if defined(ORVEX_BUILDING_LIBRARY)
#define ORVEX_API __declspec(dllexport)
#else
#define ORVEX_API __declspec(dllimport)
#endif
#else
#define ORVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ORVEX_UNICODE)
#ifdef __cplusplus
typedef char16_t OrvexChar;
#else
typedef uint_least16_t OrvexChar;
#endif
#else
typedef char OrvexChar;
#endif

/* ---- Opaque handles ------------------------------------------------------------------ */
typedef struct OrvexMaster OrvexMaster;
typedef struct OrvexSlave OrvexSlave;
typedef struct OrvexParameterList OrvexParameterList;
typedef struct OrvexCache OrvexCache;
typedef struct OrvexSQLite OrvexSQLite;

/* ---- Public records ------------------------------------------------------------------ */

/* One value of a parameter list, as Orvex_Parameter_GetMem hands it over: the caller frees
 * value first, then the element itself, both with Orvex_FreeMemory. */
typedef struct OrvexParameterElement {
    void* value;
    int32_t size;
} OrvexParameterElement;

/* What a job function returns: made by one of the Orvex_Return_* exports and released by
 * the slave after the result has been sent. */
typedef struct OrvexReturnValue {
    void* value;
    int32_t size;
} OrvexReturnValue;

/* A stream being received by a job (slave) or a relay handler (master).
 * state: 1 receiving, 2 complete and CRC verified, 3 failed, 4 canceled.
 * The receiver writes data and received before it changes state. Set cancelRequest to a
 * non-zero value to ask the sender to stop. Released with Orvex_Slave_FreeStream (job
 * streams) or Orvex_Master_FreeStream (relayed streams). */
typedef struct OrvexReceivedStream {
    void* data;
    int32_t size;
    int32_t received;
    int32_t state;
    int32_t cancelRequest;
    void* listEntry;
} OrvexReceivedStream;

/* ---- Library frame ------------------------------------------------------------------- */

/* The version text "1.0.3.2", in the calling thread's result buffer. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_GetVersion(void);

/* A zero-filled block of size bytes that knows its size; null when size <= 0 or memory is
 * exhausted. Release it with Orvex_FreeMemory. */
ORVEX_API void* ORVEX_CALL Orvex_AllocateMemory(int32_t size);

/* Releases a block from Orvex_AllocateMemory or handed out by the library; null is ignored.
 * Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_FreeMemory(void* block);

/* ---- Parameter lists ----------------------------------------------------------------- */
/* A list is a FIFO of untyped values: read them back in the order and with the kinds with
 * which they were added. A list given to Orvex_Master_DoJob is consumed by it; a list handed
 * to a job function or relay handler belongs to the library. Getters on an empty list
 * return 0 (null for GetString and GetMem) and leave the list unchanged. */

/* A new, empty list; null when memory is exhausted. A list that has been emptied by its
 * getters may be released with Orvex_FreeMemory. */
ORVEX_API OrvexParameterList* ORVEX_CALL Orvex_Parameter_New(void);
/* Each Add appends one value and returns 0 (the list is unchanged when memory runs out). */
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddInteger(OrvexParameterList* list, int32_t value);
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddLong(OrvexParameterList* list, int32_t value);
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddFloat(OrvexParameterList* list, float value);
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddDouble(OrvexParameterList* list, double value);
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddQuad(OrvexParameterList* list, int64_t value);
/* Appends a copy of the text with its terminator; a null text is taken as "". */
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddString(OrvexParameterList* list,
                                                       const OrvexChar* value);
/* Appends block (from Orvex_AllocateMemory) without copying; the list takes it over (and
 * releases it at once when it cannot be added). */
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddMem(OrvexParameterList* list, void* block,
                                                    int32_t size);
/* Number of values still in the list. */
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_Count(OrvexParameterList* list);
/* Each Get takes the oldest value off the list and returns it, reading the first 4 or 8
 * bytes of its block whatever its size (bytes the block lacks read as 0). */
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_GetInteger(OrvexParameterList* list);
ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_GetLong(OrvexParameterList* list);
ORVEX_API float ORVEX_CALL Orvex_Parameter_GetFloat(OrvexParameterList* list);
ORVEX_API double ORVEX_CALL Orvex_Parameter_GetDouble(OrvexParameterList* list);
ORVEX_API int64_t ORVEX_CALL Orvex_Parameter_GetQuad(OrvexParameterList* list);
/* Caller-owned text block (free with Orvex_FreeMemory); always terminated, a value that
 * lacks a terminator gains one. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_Parameter_GetString(OrvexParameterList* list);
/* Caller-owned element: free element->value, then the element, with Orvex_FreeMemory. */
ORVEX_API OrvexParameterElement* ORVEX_CALL Orvex_Parameter_GetMem(OrvexParameterList* list);

/* ---- Job return values --------------------------------------------------------------- */
/* A job function returns one of these (or null for no result); the slave sends its bytes
 * and releases it. Each returns null when memory runs out. */
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Integer(int32_t value);
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Long(int32_t value);
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Float(float value);
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Double(double value);
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Quad(int64_t value);
/* Copies the text with its terminator; a null text is taken as "". */
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_String(const OrvexChar* value);
/* Takes block (from Orvex_AllocateMemory) over without copying; when the record cannot be
 * made the block is released and null returned. */
ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Memory(void* block, int32_t size);

/* ---- Master -------------------------------------------------------------------------- */
/* (master exports) */
/* A master sends named jobs to slaves and collects their events. Every function takes the
 * handle from Orvex_Master_Init first. Slave numbers are 1, 2, ... in the order of
 * Orvex_Master_AddSlave and never reused. Failures store a text that Orvex_Master_GetLastError
 * returns ("Orvex_Master_DoJob(): invalid slave number", ...). */

/* Job callback and event callback, called on the master's callback thread after a receive
 * batch, one at a time: (master, slave number, job id, event type, memory, memory size,
 * user data). memory (event types 1 and 4) belongs to the callback: free it with
 * Orvex_FreeMemory. The result is ignored. */
typedef int32_t(ORVEX_CALL* OrvexMasterCallback)(OrvexMaster* master, int32_t slave,
                                                 int32_t jobId, int32_t type, void* memory,
                                                 int32_t memorySize, intptr_t userData);
/* Stream progress, called in the thread of Orvex_Master_DoJob after every acknowledged block
 * with the bytes acknowledged so far; return 0 to cancel the transfer. */
typedef int32_t(ORVEX_CALL* OrvexMasterProgressCallback)(OrvexMaster* master, int32_t slave,
                                                         int32_t streamSize,
                                                         int32_t acknowledged,
                                                         intptr_t userData);
/* Relay handler, called in a thread of its own for every stream that another master relays
 * to this one through a slave. params (or null) is freed by the library when the handler
 * returns; stream stays until Orvex_Master_FreeStream. The result is ignored. */
typedef int32_t(ORVEX_CALL* OrvexMasterRelayHandler)(OrvexMaster* master, int32_t slave,
                                                     int32_t streamId, const OrvexChar* jobName,
                                                     OrvexParameterList* params,
                                                     OrvexReceivedStream* stream);
/* Called by Orvex_Master_IterateSlaves for each connected slave; return 0 to stop. */
typedef int32_t(ORVEX_CALL* OrvexMasterSlaveIterator)(OrvexMaster* master, int32_t slave,
                                                      intptr_t userData);

/* A new master with its network and callback threads; null when relayHandler is null. */
ORVEX_API OrvexMaster* ORVEX_CALL Orvex_Master_Init(OrvexMasterRelayHandler relayHandler);
/* Stops every thread of the master (waiting for running callbacks and relay handlers),
 * closes the slave connections and frees everything. Not from a callback. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_DeInit(OrvexMaster* master);
/* Master-wide event callback for events without a job callback; null = event queue. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetCallback(OrvexMaster* master,
                                                      OrvexMasterCallback callback,
                                                      intptr_t userData);
/* Packets with a body of at least threshold bytes are compressed at zlib level (0 = off). */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetCompressionOptions(OrvexMaster* master,
                                                                int32_t threshold,
                                                                int32_t level);
/* Milliseconds to wait for each stream acknowledgement (default 5000; also the bound of a
 * query's wait) and the retry limit for stream blocks (default 3). Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetStreamOptions(OrvexMaster* master, int32_t timeout,
                                                           int32_t retries);
/* Read size of the receive batches (default 524288); returns the previous size, or -1 (and
 * "invalid block size") when size < 1. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetReceiveBlockSize(OrvexMaster* master, int32_t size);
/* Non-zero (low byte): run receive batches in a thread per slave while more than one slave is
 * connected. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_ThreadReceive(OrvexMaster* master, int32_t enable);
/* The last error text (instance-owned, replaced by the next failure), or null. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Master_GetLastError(OrvexMaster* master);

/* Connects to a slave (host name or dotted IPv4) and returns its new slave number, or 0. The
 * proxy host must be empty (no proxy support); the other proxy arguments are ignored. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_AddSlave(OrvexMaster* master, const OrvexChar* host,
                                                   int32_t port, const OrvexChar* proxyHost,
                                                   int32_t proxyPort, const OrvexChar* proxyUser,
                                                   const OrvexChar* proxyPassword,
                                                   int32_t proxyType, int32_t proxyTimeout);
/* Closes the slave's connection; 1 (also when it was removed before), 0 on an invalid
 * number. The number stays taken. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_RemoveSlave(OrvexMaster* master, int32_t slave);
/* Number of slaves connected now. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaves(OrvexMaster* master);
/* Calls fn(master, slave, userData) for each connected slave in number order, in the calling
 * thread, until fn returns 0. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_IterateSlaves(OrvexMaster* master,
                                                        OrvexMasterSlaveIterator fn,
                                                        intptr_t userData);
/* The slave's IPv4 address, its bytes in memory order (127.0.0.1 -> 127, 0, 0, 1); 0 when
 * the slave is not connected or on an invalid number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_GetSlaveIP(OrvexMaster* master, int32_t slave);
/* The application's value per slave (kept after removal): Set returns 1, Get the value;
 * both 0 on an invalid number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_SetSlaveXtraData(OrvexMaster* master, int32_t slave,
                                                           int32_t value);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_GetSlaveXtraData(OrvexMaster* master, int32_t slave);

/* Sends job jobName with params (consumed in every case but an invalid slave number; null
 * sends none) to slave and returns its job id at once; 0 on failure. The job's events go to
 * callback (with userData), else to the event callback, else to the event queue. With
 * streamData the call also transfers streamSize bytes in acknowledged blocks of blockSize
 * bytes (<= 0: 262144) before it returns, to the slave's job or, with targetMaster != 0,
 * through the slave to that master (result 1 on success); progress is called after each
 * block. priority 0-2 selects the slave's queue (2 first), 3/4 run at once. Blocks during a
 * stream transfer. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_DoJob(OrvexMaster* master, const OrvexChar* jobName,
                                                int32_t slave, OrvexParameterList* params,
                                                OrvexMasterCallback callback, intptr_t userData,
                                                void* streamData, int32_t streamSize,
                                                int32_t blockSize,
                                                OrvexMasterProgressCallback progress,
                                                intptr_t progressUserData, int32_t targetMaster,
                                                int32_t priority);
/* Frees a relayed stream handed to the relay handler (also one still being received: later
 * blocks of it are then refused). Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_FreeStream(OrvexMaster* master,
                                                     OrvexReceivedStream* stream);

/* Polling: Orvex_Master_Event takes the oldest queued event and makes it current (1), or
 * returns 0 when none is queued. The accessors read the current event. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event(OrvexMaster* master);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_Type(OrvexMaster* master);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_Slave(OrvexMaster* master);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobId(OrvexMaster* master);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobMemSize(OrvexMaster* master);
/* The current event's memory, left current (the caller frees it with Orvex_FreeMemory when
 * done); null with an error when there is none. */
ORVEX_API void* ORVEX_CALL Orvex_Master_Event_JobMem(OrvexMaster* master);
/* Typed values: read the start of the memory once, free it and clear it; a second call gives
 * 0 and "... no job memory available". */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobLong(OrvexMaster* master);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_Event_JobInteger(OrvexMaster* master);
ORVEX_API int64_t ORVEX_CALL Orvex_Master_Event_JobQuad(OrvexMaster* master);
ORVEX_API float ORVEX_CALL Orvex_Master_Event_JobFloat(OrvexMaster* master);
ORVEX_API double ORVEX_CALL Orvex_Master_Event_JobDouble(OrvexMaster* master);
/* The memory as a caller-owned text (free with Orvex_FreeMemory); it is no longer current. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_Master_Event_JobString(OrvexMaster* master);
/* Blocks until an event or a callback is queued, or more than timeout ms have passed
 * (0 = no limit). Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_WaitEvent(OrvexMaster* master, int32_t timeout);

/* Queries: block until the slave answers (at most the stream time-out, default 5000 ms).
 * PingSlave: half the round trip in ms; CountSlaveJobs: jobs queued or running on the slave;
 * CountSlaveWorkers: its worker count (asked only until it is non-zero). -1 on failure. */
ORVEX_API int32_t ORVEX_CALL Orvex_Master_PingSlave(OrvexMaster* master, int32_t slave);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaveJobs(OrvexMaster* master, int32_t slave);
ORVEX_API int32_t ORVEX_CALL Orvex_Master_CountSlaveWorkers(OrvexMaster* master, int32_t slave);
/* The slave's job list as a caller-owned text (free with Orvex_FreeMemory), asked again when
 * refresh is non-zero or none is stored; null on failure. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_Master_GetSlaveJobInfos(OrvexMaster* master, int32_t slave,
                                                              int32_t refresh);

/* ---- Slave --------------------------------------------------------------------------- */
/* (slave exports) */
/* A slave listens on a TCP port, accepts any number of masters (numbered 1, 2, ... in the
 * order they connect; a number stays with its slot after a disconnection), runs the jobs
 * that the application registered on a pool of worker threads and sends results, job
 * messages and state notices back. Job functions, access checks and iteration functions
 * run on library threads; the event callback runs on the slave's callback thread only.
 * None of them may call Orvex_Slave_DeInit. */

/* Event callback: text is never null (the empty text when the event has none) and is valid
 * only during the call; the result is ignored. Types: 1 master left, 2 master connected,
 * 3 job list asked, 4 job accepted (text = job name as sent), 5 job count asked, 6 worker
 * count asked, 7 unknown message, 8 ping, 255 a packet was not read completely (master 0). */
typedef int32_t(ORVEX_CALL* OrvexSlaveEventCallback)(OrvexSlave* slave, int32_t master,
                                                     const OrvexChar* text, int32_t type,
                                                     intptr_t userData);
/* Job function: params is null when the request carried none and belongs to the slave;
 * stream is non-null only for stream jobs and belongs to the application (release it with
 * Orvex_Slave_FreeStream). Returns an Orvex_Return_* value (the slave sends and releases
 * it) or null for an empty result. */
typedef OrvexReturnValue*(ORVEX_CALL* OrvexJobFunction)(OrvexSlave* slave, int32_t master,
                                                       int32_t jobId,
                                                       OrvexParameterList* params,
                                                       OrvexReceivedStream* stream);
/* The same function compiled with the cdecl convention (register it with useCdecl = 1). */
typedef OrvexReturnValue*(ORVEX_CDECL* OrvexJobFunctionCdecl)(OrvexSlave* slave,
                                                             int32_t master, int32_t jobId,
                                                             OrvexParameterList* params,
                                                             OrvexReceivedStream* stream);
/* Access check: 0 refuses the job, any other value lets it run. jobName is the name as
 * the master sent it, valid during the call. Runs on a job worker before the job. */
typedef int32_t(ORVEX_CALL* OrvexJobAccessCheck)(OrvexSlave* slave, int32_t master,
                                                 const OrvexChar* jobName);
/* Iteration function of Orvex_Slave_IterateMasters: return 0 to stop the walk. */
typedef int32_t(ORVEX_CALL* OrvexSlaveMasterIterator)(OrvexSlave* slave, int32_t master,
                                                      intptr_t userData);

/* A slave listening on port (all local addresses; 0 picks a free port) with max(workers, 1)
 * job workers; starts its server and callback threads. Null when the port cannot be
 * listened on. */
ORVEX_API OrvexSlave* ORVEX_CALL Orvex_Slave_Init(int32_t port, int32_t workers);
/* Stops everything: running jobs are waited for, queued jobs and undelivered events are
 * dropped, every master gets the goodbye (best effort) and is disconnected, every stream
 * not yet freed is released. Blocks; returns 0. The handle is invalid afterwards. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_DeInit(OrvexSlave* slave);
/* Events go to callback (with userData) from now on; null switches back to the polled
 * event queue. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetCallback(OrvexSlave* slave,
                                                     OrvexSlaveEventCallback callback,
                                                     intptr_t userData);
/* Outgoing packets whose body has at least threshold bytes are compressed with zlib at
 * level; 0 in either turns compression off. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetCompressionOptions(OrvexSlave* slave,
                                                               int32_t threshold,
                                                               int32_t level);
/* Non-zero low byte: receive batches run in a thread per master while at least two masters
 * are connected. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_ThreadReceive(OrvexSlave* slave, int32_t enable);
/* Bytes asked for by one read of incoming data. Returns the previous size, or -1 with the
 * error "invalid block size" when size <= 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetReceiveBlockSize(OrvexSlave* slave, int32_t size);
/* The last error text (instance-owned, valid until the next error or DeInit), or null. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Slave_GetLastError(OrvexSlave* slave);

/* Masters connected now. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountMasters(OrvexSlave* slave);
/* Calls fn for every connected master in increasing number until fn returns 0, in the
 * calling thread. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_IterateMasters(OrvexSlave* slave,
                                                        OrvexSlaveMasterIterator fn,
                                                        intptr_t userData);
/* IPv4 address of the master's end (lowest byte = first octet; 127.0.0.1 gives 16777343);
 * for a disconnected master the address of its last connection. 0 and the error
 * "Orvex_Slave_GetMasterIP(): invalid master number" for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterIP(OrvexSlave* slave, int32_t master);
/* TCP port of the master's end (of its last connection when disconnected); 0 and the error
 * "Orvex_Slave_GetMasterPort(): invalid master number" for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterPort(OrvexSlave* slave, int32_t master);
/* Stores an application value with the master's slot; returns 1 (0 and an error text for
 * an unknown number). */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterXtraData(OrvexSlave* slave, int32_t master,
                                                           int32_t value);
/* The value stored with the slot (0 at first); 0 and an error text for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_GetMasterXtraData(OrvexSlave* slave, int32_t master);
/* Sends the master the notice {2, 163, 0} and closes its connection after what was queued
 * for it; event 1. Returns 1 (also for a master that has already left), 0 and an error text
 * for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_KickMaster(OrvexSlave* slave, int32_t master);

/* Registers function under name (matched without regard to case) and adds a line to the
 * job list that masters can ask for. useCdecl non-zero: function is an OrvexJobFunctionCdecl
 * cast to OrvexJobFunction. A null function registers nothing. Returns 0. Register jobs
 * before masters send requests. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_AddJob(OrvexSlave* slave, const OrvexChar* name,
                                                const OrvexChar* description,
                                                OrvexJobFunction function, int32_t useCdecl);
/* Jobs queued or running, of all masters. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountJobs(OrvexSlave* slave);
/* That master's jobs accepted and not yet finished; -1 and an error text for an unknown
 * number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_CountMasterJobs(OrvexSlave* slave, int32_t master);
/* Most outstanding jobs the master may have (0 = no limit); master 0 sets it for every
 * master connected now. Returns 1, or -1 and an error text for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterJobLimit(OrvexSlave* slave, int32_t master,
                                                           int32_t limit);
/* The access check for the master's later requests (null removes it); master 0 sets it for
 * every master connected now. Returns 1, or -1 and an error text for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_SetMasterJobAccessCheck(OrvexSlave* slave,
                                                                 int32_t master,
                                                                 OrvexJobAccessCheck check);
/* Pause: no queued job starts until Resume (running jobs finish, requests are still
 * accepted). The first Pause sends every master {2, 161, 0}, the first Resume {2, 162, 0}.
 * Both return 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Pause(OrvexSlave* slave);
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Resume(OrvexSlave* slave);

/* Low byte 0: produce no events from now on. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_LogEvents(OrvexSlave* slave, int32_t enable);
/* Makes the oldest polled event current: 1, or 0 when there is none (the current event then
 * stays). Does not block. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event(OrvexSlave* slave);
/* Type and master number of the current event (0 before the first). */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event_Type(OrvexSlave* slave);
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Event_Master(OrvexSlave* slave);
/* Text of the current event (the job name for type 4) or null; instance-owned, valid until
 * the next Orvex_Slave_Event or DeInit. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Slave_Event_Job(OrvexSlave* slave);
/* Sends the job message {2, 4, jobId, length, data} to the master (queued before the job's
 * result when called from the job); data is copied before the call returns. Dropped when
 * the master is unknown or not connected, or length < 0. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_Job_SendMessage(OrvexSlave* slave, int32_t master,
                                                         int32_t jobId, const void* data,
                                                         int32_t length);

/* Releases a stream handed to a job, with its data; safe while blocks still arrive (later
 * blocks of that transfer are then ignored). Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_FreeStream(OrvexSlave* slave,
                                                    OrvexReceivedStream* stream);
/* Whether the master may send streams through this slave to other masters (low byte of
 * enable; new connections start with 1); master 0 sets it for every master connected now.
 * Returns 1, or -1 and an error text for an unknown number. */
ORVEX_API int32_t ORVEX_CALL Orvex_Slave_EnableStreamTransmission(OrvexSlave* slave,
                                                                  int32_t master,
                                                                  int32_t enable);

/* Statistics log: opens (creating it when missing) the SQLite database in file and records
 * the categories given by the bits of categories (1 events, 2 jobs and errors, 4 masters)
 * there, on a thread of the slave's own; the run gets the file's next session number. The
 * calling thread opens the file and creates missing tables (it may wait for another
 * connection's lock). categories 0 only pauses the recording (the database stays open).
 * Returns a non-zero value identifying the database (not an SQLite handle), or 0 when none
 * was opened. The database is written until Orvex_Slave_DeInit, which closes it. */
ORVEX_API intptr_t ORVEX_CALL Orvex_Slave_EnableStatistics(OrvexSlave* slave,
                                                          const OrvexChar* file,
                                                          int32_t categories);

/* ---- Memory cache -------------------------------------------------------------------- */
/* Named memory blocks in the process with a byte limit, lifetimes, hit counts and eviction
 * (entries used longest ago go first, then those used least, then the oldest). Names are
 * compared without regard to case and kept lower-cased. Expired entries are removed lazily,
 * by the operations that walk the entries. Any thread may call any export; each takes the
 * cache's lock and blocks only for the cache operation (and the file I/O of Save/Load). The
 * selected entry that the Get* accessors read and the walk cursor are shared by all threads:
 * do not keep a selection, or a block from Orvex_Cache_GetMem, across another thread's
 * changes. */

/* A new, empty cache; maxSize 0 means no limit. Null when memory is exhausted. Release it
 * with Orvex_Cache_Free. */
ORVEX_API OrvexCache* ORVEX_CALL Orvex_Cache_New(int32_t maxSize, int32_t ageTolerance,
                                                 int32_t hitTolerance);
/* Replaces the three settings; a smaller maxSize evicts only at the next add. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Config(OrvexCache* cache, int32_t maxSize,
                                                int32_t ageTolerance, int32_t hitTolerance);
/* Adds a copy of size bytes of data (which stays the caller's) under name, evicting entries
 * until it fits. lifetime in seconds, 0 = never expires. 1 when added; 0 when size <= 0,
 * data is null, size > a non-zero maxSize or memory runs out (cache unchanged). */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_AddEntry(OrvexCache* cache, const OrvexChar* name,
                                                  const void* data, int32_t size,
                                                  int32_t lifetime, int32_t xtraData);
/* 1 when an entry of that name is cached (it becomes the selected entry and counts a hit),
 * else 0. Asking again for the selected entry's name answers 1 at once, even if it expired
 * meanwhile. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_isCached(OrvexCache* cache, const OrvexChar* name);
/* Looks the name up as Orvex_Cache_isCached does and removes the entry found. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_DeleteEntry(OrvexCache* cache, const OrvexChar* name);
/* Starts a walk over the entries. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Examine(OrvexCache* cache);
/* Selects the next live entry of the walk and returns 1; 0 at the end. Removes the expired
 * entries it meets; counts no hits. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_NextEntry(OrvexCache* cache);
/* The selected entry's (lower-cased) name in the calling thread's result buffer; the empty
 * text when none is selected. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Cache_GetName(OrvexCache* cache);
/* The selected entry's data, or null. The block stays the cache's and is valid only until
 * the entry is removed (any add may evict it). */
ORVEX_API void* ORVEX_CALL Orvex_Cache_GetMem(OrvexCache* cache);
/* The selected entry's size in bytes, its age in seconds since it was added, its xtraData;
 * 0 when none is selected. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetMemSize(OrvexCache* cache);
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetAge(OrvexCache* cache);
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetXtraData(OrvexCache* cache);
/* Total bytes of all entries. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetSize(OrvexCache* cache);
/* Removes every expired entry. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_CleanUp(OrvexCache* cache);
/* Removes expired entries, then orders the entries by last access (latest first) and hits
 * (most first), so that lookups find recently used entries sooner. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Optimize(OrvexCache* cache);
/* Removes every entry. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Flush(OrvexCache* cache);
/* Removes every entry and releases the cache; the handle is invalid afterwards. Returns 0. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Free(OrvexCache* cache);
/* Writes settings and entries (expired ones too) to file, replacing it only once the whole
 * file was written: 1 on success; 0 when it cannot be written, or a name holds a line break,
 * in which case an existing file is left as it was. Blocks for the file I/O. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_SaveToFile(OrvexCache* cache, const OrvexChar* file);
/* Replaces settings and entries with those of file (entries start with age 0 and no hits):
 * 1 when read; 0, cache unchanged, when it cannot be opened or is not a cache file of this
 * build. A file cut short is read with zeros for its last missing bytes. Blocks for the
 * file I/O. */
ORVEX_API int32_t ORVEX_CALL Orvex_Cache_LoadFromFile(OrvexCache* cache, const OrvexChar* file);

/* ---- SQLite storage ------------------------------------------------------------------ */
/* (sqlite exports) */
/* A thin layer over SQLite 3. An OrvexSQLite handle is one open database file with at most
 * one active query; a handle is used by one thread at a time. Texts go to SQLite as UTF-8
 * (8-bit build: Latin-1; a text from SQLite ends at its first character that Latin-1 cannot
 * hold). Every call but GetLastErrorString, GetSQLiteVersion and SetCompressionLevel sets the
 * layer's one last-error text (shared by all handles and threads): empty on success, else
 * "failed" or a specific reason. Caller-owned texts are memory blocks of the text's byte
 * length plus one terminator; free them with Orvex_FreeMemory. No call blocks except on a
 * file that another connection holds locked (up to 20 seconds). */

/* Replaces fileName with an empty database file and opens it; null on failure. */
ORVEX_API OrvexSQLite* ORVEX_CALL Orvex_SQLite_Create(const OrvexChar* fileName);
/* Opens an existing database file (never creates one); null on failure. */
ORVEX_API OrvexSQLite* ORVEX_CALL Orvex_SQLite_Open(const OrvexChar* fileName);
/* Commits pending updates, ends an unfinished query and closes the file; the handle is gone
 * afterwards. 1 closed, 0 failed (pending updates lost, or the file refused to close). */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Close(OrvexSQLite* db);
/* Runs every statement of sql inside the handle's pending transaction (begun by the first
 * Update, committed by UpdateSync, Flush, Query or Close). 1 executed, 0 failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Update(OrvexSQLite* db, const OrvexChar* sql);
/* Commits pending updates, then runs sql outside any transaction. 1 executed, 0 failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_UpdateSync(OrvexSQLite* db, const OrvexChar* sql);
/* Commits pending updates: 1 committed, 0 when none were pending or the commit failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Flush(OrvexSQLite* db);
/* zlib level (-1, 0 to 9) for compressed blobs of this handle, 9 by default. Returns 1. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_SetCompressionLevel(OrvexSQLite* db, int32_t level);
/* The layer's last-error text, in the calling thread's result buffer. */
ORVEX_API const OrvexChar* ORVEX_CALL Orvex_SQLite_GetLastErrorString(void);
/* SQLite's version text; caller-owned. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetSQLiteVersion(void);

/* Queries. Read: Query (a SELECT), SelectRow 0, the getters, SelectRow 1, 2, ..., EndQuery.
 * Write: Query (a statement with ? parameters), per row StoreAs* and StoreRow, EndQuery.
 * Columns are 0-based; a value is bound to parameter column + 1. */

/* Commits pending updates, then prepares the first statement of sql. 1 prepared, 0 failed
 * (also while another query is active). */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_Query(OrvexSQLite* db, const OrvexChar* sql);
/* Ends the active query. 1 ended, 0 failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_EndQuery(OrvexSQLite* db);
/* Puts the query on the 0-based row (forward moves step, backward moves re-run the query).
 * 1 on that row, 0 failed or past the last row. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_SelectRow(OrvexSQLite* db, int32_t row);
/* Runs the query once with the bound values; they stay bound. 1 done, 0 failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreRow(OrvexSQLite* db);
/* Number of result columns of the selected row's query; 0 on failure. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetNumColumns(OrvexSQLite* db);
/* Name / declared type of a result column; caller-owned, empty on failure. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetColumnName(OrvexSQLite* db, int32_t column);
ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetColumnTypeAsString(OrvexSQLite* db,
                                                                  int32_t column);

/* Bind a value to parameter column + 1 of the active query. 1 bound, 0 failed. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsLong(OrvexSQLite* db, int32_t column,
                                                      int32_t value);
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsQuad(OrvexSQLite* db, int32_t column,
                                                      int64_t value);
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsDouble(OrvexSQLite* db, int32_t column,
                                                        double value);
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsString(OrvexSQLite* db, int32_t column,
                                                        const OrvexChar* value);
/* Binds size bytes of data behind an 8-byte header {flags, size} (32-bit little-endian);
 * bit 0 of flags set: the data is zlib-compressed at the handle's level. The data is copied,
 * so the caller may change or free it on return. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_StoreAsBlob(OrvexSQLite* db, int32_t column,
                                                      const void* data, int32_t size,
                                                      int32_t flags);

/* Read a column of the selected row; 0 (0.0) on failure. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsLong(OrvexSQLite* db, int32_t column);
ORVEX_API int64_t ORVEX_CALL Orvex_SQLite_GetAsQuad(OrvexSQLite* db, int32_t column);
ORVEX_API double ORVEX_CALL Orvex_SQLite_GetAsDouble(OrvexSQLite* db, int32_t column);
/* Caller-owned text; empty on failure and for SQL NULL. */
ORVEX_API OrvexChar* ORVEX_CALL Orvex_SQLite_GetAsString(OrvexSQLite* db, int32_t column);
/* The flags / data size in the header of a blob stored by Orvex_SQLite_StoreAsBlob; 0 on
 * failure. */
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsBlobFlags(OrvexSQLite* db, int32_t column);
ORVEX_API int32_t ORVEX_CALL Orvex_SQLite_GetAsBlobSize(OrvexSQLite* db, int32_t column);
/* The stored blob's data (inflated when compressed), a caller-owned block of exactly
 * Orvex_SQLite_GetAsBlobSize bytes; null on failure (also for a damaged blob). */
ORVEX_API void* ORVEX_CALL Orvex_SQLite_GetAsBlobPointer(OrvexSQLite* db, int32_t column);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ORVEX_H */
