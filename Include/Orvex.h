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

/* ---- Slave --------------------------------------------------------------------------- */
/* (slave exports) */

/* ---- Memory cache -------------------------------------------------------------------- */
/* (cache exports) */

/* ---- SQLite storage ------------------------------------------------------------------ */
/* (sqlite exports) */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ORVEX_H */
