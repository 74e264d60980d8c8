#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"
#include "params/parameter_list.hpp"
#include "params/return_value.hpp"
#include "params_test_util.hpp"

namespace orvex {
namespace {

using test::BlockOf;
using test::Bytes;
using test::BytesOf;
using test::TextBytes;

TEST(ParameterList, MixedValuesComeBackInOrderAndTheEmptiedListIsAMemoryBlock) {
    OrvexParameterList* list = Orvex_Parameter_New();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Orvex_Parameter_Count(list), 0);
    Orvex_Parameter_AddInteger(list, 7);
    Orvex_Parameter_AddString(list, FromAscii("abc").c_str());
    Orvex_Parameter_AddDouble(list, 2.5);
    EXPECT_EQ(Orvex_Parameter_Count(list), 3);

    EXPECT_EQ(Orvex_Parameter_GetInteger(list), 7);
    EXPECT_EQ(Orvex_Parameter_Count(list), 2);
    OrvexChar* text = Orvex_Parameter_GetString(list);
    EXPECT_EQ(BytesOf(text), TextBytes("abc"));
    Orvex_FreeMemory(text);
    EXPECT_EQ(Orvex_Parameter_Count(list), 1);
    EXPECT_EQ(Orvex_Parameter_GetDouble(list), 2.5);
    EXPECT_EQ(Orvex_Parameter_Count(list), 0);

    // An emptied list, appended to again, still works; then the application frees it.
    Orvex_Parameter_AddQuad(list, -5);
    EXPECT_EQ(Orvex_Parameter_GetQuad(list), -5);
    Orvex_FreeMemory(list);
}

struct ValueCase {
    const char* kind;
    std::function<void(OrvexParameterList*)> add;
    Bytes bytes;
};

TEST(ParameterList, EachKindStoresItsLittleEndianBytes) {
    const ValueCase cases[] = {
        {"Integer", [](auto* l) { Orvex_Parameter_AddInteger(l, 7); }, {7, 0, 0, 0}},
        {"Long", [](auto* l) { Orvex_Parameter_AddLong(l, -2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"Float", [](auto* l) { Orvex_Parameter_AddFloat(l, 1.0f); }, {0, 0, 0x80, 0x3F}},
        {"Double", [](auto* l) { Orvex_Parameter_AddDouble(l, 2.5); }, {0, 0, 0, 0, 0, 0, 4, 0x40}},
        {"Quad",
         [](auto* l) { Orvex_Parameter_AddQuad(l, 0x0102030405060708); },
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"String ab", [](auto* l) { Orvex_Parameter_AddString(l, FromAscii("ab").c_str()); },
         TextBytes("ab")},
        {"String empty", [](auto* l) { Orvex_Parameter_AddString(l, FromAscii("").c_str()); },
         TextBytes("")},
        {"String null", [](auto* l) { Orvex_Parameter_AddString(l, nullptr); }, TextBytes("")},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.kind);
        OrvexParameterList* list = Orvex_Parameter_New();
        c.add(list);
        OrvexParameterElement* element = Orvex_Parameter_GetMem(list);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(element->size, static_cast<int32_t>(c.bytes.size()));
        EXPECT_EQ(BytesOf(element->value), c.bytes);
        Orvex_FreeMemory(element->value);
        Orvex_FreeMemory(element);
        Orvex_FreeMemory(list);
    }
}

TEST(ParameterList, ValuesReadWithAnotherKindOfTheSameWidthGiveTheirBitPattern) {
    OrvexParameterList* list = Orvex_Parameter_New();
    Orvex_Parameter_AddFloat(list, 1.0f);
    Orvex_Parameter_AddDouble(list, 2.5);
    Orvex_Parameter_AddInteger(list, 0x40490FDB);
    EXPECT_EQ(Orvex_Parameter_GetLong(list), 1065353216);
    EXPECT_EQ(Orvex_Parameter_GetQuad(list), 0x4004000000000000);
    EXPECT_FLOAT_EQ(Orvex_Parameter_GetFloat(list), 3.14159274f);
    Orvex_FreeMemory(list);
}

TEST(ParameterList, GetMemHandsOverTheVeryBlockAndSize) {
    OrvexParameterList* list = Orvex_Parameter_New();
    void* block = Orvex_AllocateMemory(16386);
    Orvex_Parameter_AddMem(list, block, 16386);
    Orvex_Parameter_AddInteger(list, 1);
    OrvexParameterElement* element = Orvex_Parameter_GetMem(list);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->value, block);
    EXPECT_EQ(element->size, 16386);
    EXPECT_EQ(BlockSize(element), static_cast<int32_t>(sizeof(OrvexParameterElement)));
    EXPECT_EQ(Orvex_Parameter_Count(list), 1);
    Orvex_FreeMemory(element->value);
    Orvex_FreeMemory(element);
    // What is left goes with the list.
    Orvex_Parameter_AddString(list, FromAscii("left over").c_str());
    Orvex_Parameter_AddMem(list, Orvex_AllocateMemory(8), 8);
    FreeParameters(FromHandle(list));
}

TEST(ParameterList, EmptyAndNullListsReadAsEmptyAndStayUnchanged) {
    OrvexParameterList* list = Orvex_Parameter_New();
    EXPECT_EQ(Orvex_Parameter_GetInteger(list), 0);
    EXPECT_EQ(Orvex_Parameter_GetFloat(list), 0.0f);
    EXPECT_EQ(Orvex_Parameter_GetDouble(list), 0.0);
    EXPECT_EQ(Orvex_Parameter_GetQuad(list), 0);
    EXPECT_EQ(Orvex_Parameter_GetString(list), nullptr);
    EXPECT_EQ(Orvex_Parameter_GetMem(list), nullptr);
    EXPECT_EQ(Orvex_Parameter_Count(list), 0);
    Orvex_Parameter_AddInteger(list, 9);  // still usable afterwards
    EXPECT_EQ(Orvex_Parameter_GetInteger(list), 9);
    Orvex_FreeMemory(list);

    EXPECT_EQ(Orvex_Parameter_Count(nullptr), 0);
    EXPECT_EQ(Orvex_Parameter_AddInteger(nullptr, 1), 0);
    EXPECT_EQ(Orvex_Parameter_AddString(nullptr, nullptr), 0);
    EXPECT_EQ(Orvex_Parameter_AddMem(nullptr, Orvex_AllocateMemory(4), 4), 0);  // released
    EXPECT_EQ(Orvex_Parameter_GetLong(nullptr), 0);
    EXPECT_EQ(Orvex_Parameter_GetString(nullptr), nullptr);
    EXPECT_EQ(Orvex_Parameter_GetMem(nullptr), nullptr);
}

TEST(ParameterList, GettersReadOnlyTheBytesAShortBlockHolds) {
    OrvexParameterList* list = Orvex_Parameter_New();
    Orvex_Parameter_AddMem(list, BlockOf({0x01, 0x02}), 8);
    Orvex_Parameter_AddMem(list, nullptr, 4);
    Orvex_Parameter_AddMem(list, BlockOf({0x00, 0x00, 0x80}), 3);
    EXPECT_EQ(Orvex_Parameter_GetQuad(list), 0x0201);
    EXPECT_EQ(Orvex_Parameter_GetInteger(list), 0);
    EXPECT_EQ(Orvex_Parameter_GetLong(list), 0x800000);
    Orvex_FreeMemory(list);
}

// A value that is not a terminated text (e.g. from the wire) still reads as one.
TEST(ParameterList, GetStringAlwaysReturnsATerminatedBlock) {
    const Bytes cases[] = {
        {'a', 'b', 'c'}, {'a', 'b', 'c', 0}, {'a', 0, 0, 0, 'b'}, {'x'}, TextBytes("xyz"),
    };
    for (const Bytes& raw : cases) {
        SCOPED_TRACE(::testing::PrintToString(raw));
        OrvexParameterList* list = Orvex_Parameter_New();
        Orvex_Parameter_AddMem(list, BlockOf(raw), static_cast<int32_t>(raw.size()));
        OrvexChar* text = Orvex_Parameter_GetString(list);
        ASSERT_NE(text, nullptr);
        const Bytes got = BytesOf(text);
        ASSERT_GE(got.size(), raw.size());
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(), got.begin()));
        const size_t chars = got.size() / kCharSize;
        EXPECT_NE(TextView(text, chars).find(Char{0}), TextView::npos);
        Orvex_FreeMemory(text);
        Orvex_FreeMemory(list);
    }
}

TEST(ReturnValue, EachKindHoldsItsBytes) {
    struct Case {
        const char* kind;
        OrvexReturnValue* result;
        Bytes bytes;
    };
    const Case cases[] = {
        {"Long", Orvex_Return_Long(305419896), {0x78, 0x56, 0x34, 0x12}},
        {"Integer", Orvex_Return_Integer(-1), {0xFF, 0xFF, 0xFF, 0xFF}},
        {"Float", Orvex_Return_Float(1.0f), {0, 0, 0x80, 0x3F}},
        {"Double", Orvex_Return_Double(2.5), {0, 0, 0, 0, 0, 0, 4, 0x40}},
        {"Quad", Orvex_Return_Quad(0x0102030405060708), {8, 7, 6, 5, 4, 3, 2, 1}},
        {"String ab", Orvex_Return_String(FromAscii("ab").c_str()), TextBytes("ab")},
        {"String empty", Orvex_Return_String(FromAscii("").c_str()), TextBytes("")},
        {"String null", Orvex_Return_String(nullptr), TextBytes("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_NE(c.result, nullptr);
        EXPECT_EQ(c.result->size, static_cast<int32_t>(c.bytes.size()));
        EXPECT_EQ(BytesOf(c.result->value), c.bytes);
        EXPECT_EQ(BlockSize(c.result), static_cast<int32_t>(sizeof(OrvexReturnValue)));
        FreeReturnValue(c.result);
    }
}

TEST(ReturnValue, MemoryTakesTheBlockOverWithoutCopying) {
    void* block = Orvex_AllocateMemory(16386);
    OrvexReturnValue* result = Orvex_Return_Memory(block, 16386);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->value, block);
    EXPECT_EQ(result->size, 16386);
    FreeReturnValue(result);  // releases the block as well
}

}  // namespace
}  // namespace orvex
