// Fuzz target: the parameter block decoder, as the slave meets it at the end of a job request
// and a master in a relayed stream request.
//
// Input: the bytes of a parameter block. A block that decodes must encode back to exactly the
// bytes it was decoded from (count, sizes and values, nothing after the last value), and its
// values must survive every typed getter of the C interface.
#include <cstring>
#include <vector>

#include "../fuzz_target.hpp"
#include "Orvex.h"
#include "core/memory.hpp"
#include "params/parameter_block.hpp"
#include "protocol/framing.hpp"

namespace orvex::fuzz {
namespace {

// Bytes the decoder reads for a successful decode: the count, then each size and value.
size_t DecodedLength(const ParameterList& list) {
    size_t length = 4;
    for (const ParameterNode* node = list.head; node != nullptr; node = node->next) {
        length += 4 + static_cast<size_t>(node->item->size);
    }
    return length;
}

void CheckRoundTrip(std::span<const uint8_t> bytes) {
    ParameterListPtr list = DecodeParameters(bytes);
    if (!list) return;
    FUZZ_CHECK(bytes.size() >= 4);
    const int32_t count = protocol::ReadWord(bytes.data());
    FUZZ_CHECK(list->Count() == (count > 0 ? count : 0));
    const size_t length = DecodedLength(*list);
    FUZZ_CHECK(length <= bytes.size());
    BlockPtr<uint8_t> encoded = EncodeParameters(list.get(), true);
    FUZZ_CHECK(encoded != nullptr);
    FUZZ_CHECK(list->IsEmpty());
    if (count >= 0) {
        FUZZ_CHECK(static_cast<size_t>(BlockSize(encoded.get())) == length);
        FUZZ_CHECK(std::memcmp(encoded.get(), bytes.data(), length) == 0);
    }
}

// Reads every value with the getter that the value's first byte picks, as a job function
// reading parameters of the wrong type would.
void ReadWithGetters(std::span<const uint8_t> bytes) {
    ParameterListPtr list = DecodeParameters(bytes);
    if (!list) return;
    OrvexParameterList* handle = ToHandle(list.get());
    while (Orvex_Parameter_Count(handle) > 0) {
        const ParameterElement* front = list->head->item;
        const uint8_t pick = front->size > 0 ? *static_cast<const uint8_t*>(front->value) : 0;
        switch (pick % 6) {
            case 0:
                (void)Orvex_Parameter_GetInteger(handle);
                break;
            case 1:
                (void)Orvex_Parameter_GetQuad(handle);
                break;
            case 2:
                (void)Orvex_Parameter_GetDouble(handle);
                break;
            case 3:
                (void)Orvex_Parameter_GetFloat(handle);
                break;
            case 4: {
                OrvexChar* text = Orvex_Parameter_GetString(handle);
                FUZZ_CHECK(text != nullptr);
                Orvex_FreeMemory(text);
                break;
            }
            default: {
                OrvexParameterElement* element = Orvex_Parameter_GetMem(handle);
                FUZZ_CHECK(element != nullptr);
                FreeElement(element);
                break;
            }
        }
    }
}

// The form that takes over a library memory block on success.
void DecodeOwnedBlock(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    void* block = AllocateBlock(static_cast<int64_t>(bytes.size()));
    FUZZ_CHECK(block != nullptr);
    std::memcpy(block, bytes.data(), bytes.size());
    ParameterListPtr list =
        DecodeParameters(block, static_cast<int32_t>(bytes.size()), /*releaseBlock=*/true);
    if (!list) FreeBlock(block);
}

}  // namespace

int DecodeParametersInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    CheckRoundTrip(bytes);
    ReadWithGetters(bytes);
    DecodeOwnedBlock(bytes);
    return 0;
}

}  // namespace orvex::fuzz

ORVEX_FUZZ_ENTRY(DecodeParametersInput)
