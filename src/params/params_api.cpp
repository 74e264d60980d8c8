// C edge of the parameter-list and return-value families.
//
// Everything below is noexcept: the internals report failure by return value only, so no
// exception can reach C. A null list reads as an empty one; Adds to it are dropped.
#include <cstdint>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"
#include "params/parameter_list.hpp"
#include "params/return_value.hpp"
#include "params/value_bytes.hpp"

using namespace orvex;

namespace {

// Appends a number as a value block of its own width; dropped when memory runs out.
template <typename T>
int32_t AddNumber(OrvexParameterList* handle, T value) noexcept {
    ParameterList* list = FromHandle(handle);
    if (list == nullptr) return 0;
    auto* block = static_cast<uint8_t*>(AllocateBlock(sizeof(T)));
    if (block == nullptr) return 0;
    StoreLittle(block, value);
    AppendValue(*list, block, sizeof(T));
    return 0;
}

// Takes the oldest value and reads a number from the first sizeof(T) bytes of its block,
// whatever the recorded size. A shorter block yields its bytes and zeros; an empty list 0.
template <typename T>
T TakeNumber(OrvexParameterList* handle) noexcept {
    ParameterList* list = FromHandle(handle);
    if (list == nullptr) return T{};
    ParameterElementPtr element(list->Take());
    if (!element) return T{};
    uint8_t bytes[sizeof(T)];
    CopyValueBytes(bytes, element->value, sizeof(T));
    return LoadLittle<T>(bytes);
}

// The value block as a terminated text. A value that came off the wire (or a Mem value)
// need not end in a terminator; then the block grows by one zero character so the caller
// never reads past it. Null when that growth fails, with `value` untouched.
void* TerminatedText(void* value) noexcept {
    const int32_t bytes = BlockSize(value);
    const int32_t chars = bytes / kCharSize;
    const auto* text = static_cast<const Char*>(value);
    if (chars > 0 && text[chars - 1] == 0) return value;
    if (TextView(text, chars).find(Char{0}) != TextView::npos) return value;
    const int64_t whole = (static_cast<int64_t>(bytes) + kCharSize - 1) / kCharSize;
    return ResizeBlock(value, (whole + 1) * kCharSize);
}

template <typename T>
OrvexReturnValue* ReturnNumber(T value) noexcept {
    auto* block = static_cast<uint8_t*>(AllocateBlock(sizeof(T)));
    if (block == nullptr) return nullptr;
    StoreLittle(block, value);
    return MakeReturnValue(block, sizeof(T));
}

}  // namespace

extern "C" {

ORVEX_API OrvexParameterList* ORVEX_CALL Orvex_Parameter_New(void) {
    return ToHandle(ParameterList::New());
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddInteger(OrvexParameterList* list, int32_t value) {
    return AddNumber(list, value);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddLong(OrvexParameterList* list, int32_t value) {
    return AddNumber(list, value);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddFloat(OrvexParameterList* list, float value) {
    return AddNumber(list, value);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddDouble(OrvexParameterList* list, double value) {
    return AddNumber(list, value);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddQuad(OrvexParameterList* list, int64_t value) {
    return AddNumber(list, value);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddString(OrvexParameterList* list,
                                                       const OrvexChar* value) {
    ParameterList* parameters = FromHandle(list);
    if (parameters == nullptr) return 0;
    const TextView text = ViewOf(value);
    Char* block = CopyToBlock(text);
    if (block != nullptr) {
        AppendValue(*parameters, block, static_cast<int32_t>(TextBlockSize(text)));
    }
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_AddMem(OrvexParameterList* list, void* block,
                                                    int32_t size) {
    // The block is handed over by this call: when it cannot be added it is released, since
    // the caller has no way to learn that and must not touch it again.
    ParameterList* parameters = FromHandle(list);
    if (parameters == nullptr) {
        FreeBlock(block);
        return 0;
    }
    AppendValue(*parameters, block, size);
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_Count(OrvexParameterList* list) {
    ParameterList* parameters = FromHandle(list);
    return parameters == nullptr ? 0 : parameters->Count();
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_GetInteger(OrvexParameterList* list) {
    return TakeNumber<int32_t>(list);
}

ORVEX_API int32_t ORVEX_CALL Orvex_Parameter_GetLong(OrvexParameterList* list) {
    return TakeNumber<int32_t>(list);
}

ORVEX_API float ORVEX_CALL Orvex_Parameter_GetFloat(OrvexParameterList* list) {
    return TakeNumber<float>(list);
}

ORVEX_API double ORVEX_CALL Orvex_Parameter_GetDouble(OrvexParameterList* list) {
    return TakeNumber<double>(list);
}

ORVEX_API int64_t ORVEX_CALL Orvex_Parameter_GetQuad(OrvexParameterList* list) {
    return TakeNumber<int64_t>(list);
}

ORVEX_API OrvexChar* ORVEX_CALL Orvex_Parameter_GetString(OrvexParameterList* list) {
    ParameterList* parameters = FromHandle(list);
    if (parameters == nullptr || parameters->IsEmpty()) return nullptr;
    // Terminate the value in place first, so a failure leaves the list unchanged.
    ParameterElement* front = parameters->head->item;
    void* text = TerminatedText(front->value);
    if (text == nullptr) return nullptr;
    front->value = text;
    ParameterElement* element = parameters->Take();
    FreeBlock(element);
    return static_cast<OrvexChar*>(text);
}

ORVEX_API OrvexParameterElement* ORVEX_CALL Orvex_Parameter_GetMem(OrvexParameterList* list) {
    ParameterList* parameters = FromHandle(list);
    return parameters == nullptr ? nullptr : parameters->Take();
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Integer(int32_t value) {
    return ReturnNumber(value);
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Long(int32_t value) {
    return ReturnNumber(value);
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Float(float value) {
    return ReturnNumber(value);
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Double(double value) {
    return ReturnNumber(value);
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Quad(int64_t value) {
    return ReturnNumber(value);
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_String(const OrvexChar* value) {
    const TextView text = ViewOf(value);
    Char* block = CopyToBlock(text);
    if (block == nullptr) return nullptr;
    return MakeReturnValue(block, static_cast<int32_t>(TextBlockSize(text)));
}

ORVEX_API OrvexReturnValue* ORVEX_CALL Orvex_Return_Memory(void* block, int32_t size) {
    return MakeReturnValue(block, size);
}

}  // extern "C"
