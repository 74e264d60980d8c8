// Shared frame of the fuzz targets.
//
// Each file in fuzz/targets/ defines one function orvex::fuzz::<Name>(data, size) that feeds
// arbitrary bytes to one input path of the library and ends with ORVEX_FUZZ_ENTRY(<Name>).
// Built as a libFuzzer program (ORVEX_FUZZ_LIBFUZZER defined, clang only), that line becomes
// the fuzzer's entry point; built into the replay suite of the test tree, it vanishes and
// the suite calls the function itself for every file of the target's corpus and regressions.
//
// A target aborts (FUZZ_CHECK) when the library breaks a promise it can check: a round trip
// that does not give back what went in, or a connection that does not finish in bounded time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                                  \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

#if defined(ORVEX_FUZZ_LIBFUZZER)
#define ORVEX_FUZZ_ENTRY(name)                                                \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        return orvex::fuzz::name(data, size);                                 \
    }
#else
#define ORVEX_FUZZ_ENTRY(name)
#endif

namespace orvex::fuzz {

// The targets, in the order of fuzz/corpus/<folder>.
int DecodeParametersInput(const uint8_t* data, size_t size);
int StoredBlobInput(const uint8_t* data, size_t size);
int CacheFileInput(const uint8_t* data, size_t size);
int MasterDispatchInput(const uint8_t* data, size_t size);
int SlaveDispatchInput(const uint8_t* data, size_t size);

}  // namespace orvex::fuzz
