// Encoding and decoding parameter blocks for a few list shapes.
//
// Encoding consumes its list and decoding produces one, so lists are built (or released) in
// batches outside the timed region; each timed iteration is exactly one encode or decode.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"
#include "params/parameter_block.hpp"
#include "params/parameter_list.hpp"

namespace orvex {
namespace {

constexpr size_t kBatch = 32;

using Shape = std::function<void(OrvexParameterList*)>;

void SmallValues(OrvexParameterList* list) {
    Orvex_Parameter_AddInteger(list, 7);
    Orvex_Parameter_AddLong(list, 8);
    Orvex_Parameter_AddFloat(list, 1.5f);
    Orvex_Parameter_AddDouble(list, 2.5);
    Orvex_Parameter_AddString(list, FromAscii("hello world").c_str());
}

void HundredValues(OrvexParameterList* list) {
    const Text text = FromAscii("sixteen chars...");
    for (int i = 0; i < 25; ++i) {
        Orvex_Parameter_AddInteger(list, i);
        Orvex_Parameter_AddDouble(list, i * 0.5);
        Orvex_Parameter_AddQuad(list, int64_t{i} << 40);
        Orvex_Parameter_AddString(list, text.c_str());
    }
}

void OneMemValue(OrvexParameterList* list) {
    Orvex_Parameter_AddMem(list, Orvex_AllocateMemory(64 * 1024), 64 * 1024);
}

ParameterList* Build(const Shape& shape) {
    ParameterList* list = ParameterList::New();
    shape(ToHandle(list));
    return list;
}

void Encode(benchmark::State& state, const Shape& shape) {
    std::vector<ParameterList*> lists;
    int64_t bytes = 0;
    for (auto _ : state) {
        if (lists.empty()) {
            state.PauseTiming();
            for (size_t i = 0; i < kBatch; ++i) lists.push_back(Build(shape));
            state.ResumeTiming();
        }
        BlockPtr<uint8_t> block = EncodeParameters(lists.back(), true);
        bytes += BlockSize(block.get());
        benchmark::DoNotOptimize(block.get());
        FreeParameters(lists.back());
        lists.pop_back();
    }
    for (ParameterList* list : lists) FreeParameters(list);
    state.SetBytesProcessed(bytes);
}

void Decode(benchmark::State& state, const Shape& shape) {
    const BlockPtr<uint8_t> block = EncodeParameters(ParameterListPtr(Build(shape)).get(), true);
    const std::span<const uint8_t> bytes(block.get(), static_cast<size_t>(BlockSize(block.get())));
    std::vector<ParameterListPtr> lists;
    lists.reserve(kBatch);
    for (auto _ : state) {
        if (lists.size() == kBatch) {
            state.PauseTiming();
            lists.clear();
            state.ResumeTiming();
        }
        lists.push_back(DecodeParameters(bytes));
        if (!lists.back()) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK_CAPTURE(Encode, small_4_numbers_and_string, Shape(SmallValues));
BENCHMARK_CAPTURE(Encode, hundred_values, Shape(HundredValues));
BENCHMARK_CAPTURE(Encode, one_64KiB_mem, Shape(OneMemValue));
BENCHMARK_CAPTURE(Decode, small_4_numbers_and_string, Shape(SmallValues));
BENCHMARK_CAPTURE(Decode, hundred_values, Shape(HundredValues));
BENCHMARK_CAPTURE(Decode, one_64KiB_mem, Shape(OneMemValue));

}  // namespace
}  // namespace orvex

BENCHMARK_MAIN();
