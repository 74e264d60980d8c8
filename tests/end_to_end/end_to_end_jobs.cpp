#include "end_to_end_jobs.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/crc32.hpp"
#include "core/text.hpp"

namespace orvex::test {
namespace {

constexpr int32_t kMemSize = 16386;

uint8_t MemByte(int32_t i) {
    return static_cast<uint8_t>(i * 31 + 7);
}

OrvexReturnValue* ORVEX_CALL Check(OrvexSlave*, int32_t, int32_t, OrvexParameterList* p,
                                   OrvexReceivedStream*) {
    bool ok = p != nullptr && Orvex_Parameter_Count(p) == 7;
    ok = ok && Orvex_Parameter_GetInteger(p) == -7;
    ok = ok && Orvex_Parameter_GetLong(p) == 123456789;
    ok = ok && Orvex_Parameter_GetFloat(p) == 1.5f;
    ok = ok && Orvex_Parameter_GetDouble(p) == -2.25;
    ok = ok && Orvex_Parameter_GetQuad(p) == (int64_t{1} << 40);
    if (ok) {
        OrvexChar* text = Orvex_Parameter_GetString(p);
        ok = ViewOf(text) == FromAscii("hello");
        Orvex_FreeMemory(text);
    }
    if (ok) {
        OrvexParameterElement* mem = Orvex_Parameter_GetMem(p);
        ok = mem->size == 3 && std::memcmp(mem->value, "\1\2\3", 3) == 0;
        Orvex_FreeMemory(mem->value);
        Orvex_FreeMemory(mem);
    }
    return Orvex_Return_Integer(ok ? 1 : 0);
}

OrvexReturnValue* ORVEX_CALL Give(OrvexSlave*, int32_t, int32_t, OrvexParameterList* p,
                                  OrvexReceivedStream*) {
    switch (Orvex_Parameter_GetInteger(p)) {
        case 0:
            return Orvex_Return_Integer(-7);
        case 1:
            return Orvex_Return_Long(123456789);
        case 2:
            return Orvex_Return_Float(1.5f);
        case 3:
            return Orvex_Return_Double(-2.25);
        case 4:
            return Orvex_Return_Quad(int64_t{1} << 40);
        case 5:
            return Orvex_Return_String(FromAscii("hello").c_str());
        case 6: {
            auto* block = static_cast<uint8_t*>(Orvex_AllocateMemory(kMemSize));
            for (int32_t i = 0; i < kMemSize; ++i) block[i] = MemByte(i);
            return Orvex_Return_Memory(block, kMemSize);
        }
        default:
            return nullptr;
    }
}

OrvexReturnValue* ORVEX_CALL Add(OrvexSlave*, int32_t, int32_t, OrvexParameterList* p,
                                 OrvexReceivedStream*) {
    const int32_t a = Orvex_Parameter_GetInteger(p);
    const int32_t b = Orvex_Parameter_GetInteger(p);
    return Orvex_Return_Integer(a + b);
}

OrvexReturnValue* ORVEX_CALL Talk(OrvexSlave* slave, int32_t master, int32_t jobId,
                                  OrvexParameterList*, OrvexReceivedStream*) {
    Orvex_Slave_Job_SendMessage(slave, master, jobId, "one", 3);
    Orvex_Slave_Job_SendMessage(slave, master, jobId, "two", 3);
    return Orvex_Return_Integer(2);
}

OrvexReturnValue* ORVEX_CALL StreamCrc(OrvexSlave* slave, int32_t, int32_t, OrvexParameterList*,
                                       OrvexReceivedStream* stream) {
    if (stream == nullptr) return Orvex_Return_Integer(-100);
    // The job runs while blocks still arrive; it watches the state as applications do.
    std::atomic_ref<int32_t> state(stream->state);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (state.load() == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int32_t result =
        state.load() == 2
            ? static_cast<int32_t>(Crc32(stream->data, static_cast<size_t>(stream->size)))
            : -state.load();
    Orvex_Slave_FreeStream(slave, stream);
    return Orvex_Return_Integer(result);
}

OrvexReturnValue* ORVEX_CALL NoParams(OrvexSlave*, int32_t, int32_t, OrvexParameterList* p,
                                      OrvexReceivedStream*) {
    return Orvex_Return_Integer(p == nullptr ? 1 : 0);
}

template <typename V>
std::vector<uint8_t> BytesOf(V value) {
    std::vector<uint8_t> out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

}  // namespace

void RegisterJobs(OrvexSlave* slave) {
    const struct {
        const char* name;
        OrvexJobFunction function;
    } jobs[] = {{"Check", &Check}, {"Give", &Give},           {"Add", &Add},
                {"Talk", &Talk},   {"StreamCrc", &StreamCrc}, {"NoParams", &NoParams}};
    for (const auto& job : jobs) {
        Orvex_Slave_AddJob(slave, FromAscii(job.name).c_str(), FromAscii("test job").c_str(),
                           job.function, 0);
    }
}

std::vector<uint8_t> GiveResult(int32_t kind) {
    switch (kind) {
        case 0:
            return BytesOf<int32_t>(-7);
        case 1:
            return BytesOf<int32_t>(123456789);
        case 2:
            return BytesOf<float>(1.5f);
        case 3:
            return BytesOf<double>(-2.25);
        case 4:
            return BytesOf<int64_t>(int64_t{1} << 40);
        case 5: {
            const Text text = FromAscii("hello");
            const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
            return {bytes, bytes + (text.size() + 1) * sizeof(Char)};
        }
        case 6: {
            std::vector<uint8_t> out(kMemSize);
            for (int32_t i = 0; i < kMemSize; ++i) out[static_cast<size_t>(i)] = MemByte(i);
            return out;
        }
        default:
            return {};
    }
}

}  // namespace orvex::test
