#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"
#include "params/parameter_block.hpp"
#include "params/parameter_list.hpp"
#include "params_test_util.hpp"

namespace orvex {
namespace {

using test::BlockOf;
using test::Bytes;
using test::BytesOf;
using test::TextBytes;

// Integer 7 and String "ab": 19 bytes in the 8-bit build, 22 in the Unicode build.
Bytes ExampleBlock() {
#if defined(ORVEX_UNICODE)
    return {2, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0, 6, 0, 0, 0, 0x61, 0, 0x62, 0, 0, 0};
#else
    return {2, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 0x61, 0x62, 0};
#endif
}

ParameterListPtr Decode(const Bytes& bytes) {
    return DecodeParameters(std::span(bytes));
}

// Decodes from a heap copy of exactly `length` bytes, so a read past them is caught by ASan.
ParameterListPtr DecodeExactly(const Bytes& bytes, size_t length) {
    auto copy = std::make_unique<uint8_t[]>(length > 0 ? length : 1);
    std::copy(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length), copy.get());
    return DecodeParameters(std::span<const uint8_t>(copy.get(), length));
}

Bytes Encode(ParameterList* list) {
    BlockPtr<uint8_t> block = EncodeParameters(list, true);
    EXPECT_NE(block, nullptr);
    return block ? BytesOf(block.get()) : Bytes();
}

TEST(ParameterBlock, ExampleEncodesToItsBytesAndDecodesBack) {
    ParameterList* list = ParameterList::New();
    Orvex_Parameter_AddInteger(ToHandle(list), 7);
    Orvex_Parameter_AddString(ToHandle(list), FromAscii("ab").c_str());
    EXPECT_EQ(Encode(list), ExampleBlock());
    EXPECT_TRUE(list->IsEmpty());
    EXPECT_EQ(list->Count(), 0);
    FreeParameters(list);

    ParameterListPtr decoded = Decode(ExampleBlock());
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(decoded->Count(), 2);
    EXPECT_EQ(decoded->head->item->size, 4);
    EXPECT_EQ(decoded->head->next->item->size, 3 * kCharSize);
    EXPECT_EQ(Orvex_Parameter_GetInteger(ToHandle(decoded.get())), 7);
    OrvexChar* text = Orvex_Parameter_GetString(ToHandle(decoded.get()));
    EXPECT_EQ(BytesOf(text), TextBytes("ab"));
    Orvex_FreeMemory(text);
}

TEST(ParameterBlock, EmptyOrNullListIsFourZeroBytesAndBack) {
    ParameterListPtr list(ParameterList::New());
    EXPECT_EQ(Encode(list.get()), Bytes(4, 0));
    EXPECT_EQ(Encode(nullptr), Bytes(4, 0));
    for (const Bytes& empty : {Bytes(4, 0), Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {  // count 0, -1
        ParameterListPtr decoded = Decode(empty);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->Count(), 0);
    }
}

TEST(ParameterBlock, DoubleIsSizeEightAndItsBytes) {
    ParameterListPtr list(ParameterList::New());
    Orvex_Parameter_AddDouble(ToHandle(list.get()), 2.5);
    EXPECT_EQ(Encode(list.get()), (Bytes{1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x40}));
}

TEST(ParameterBlock, ManyValuesRoundTrip) {
    std::mt19937 random(42);
    ParameterListPtr list(ParameterList::New());
    std::vector<Bytes> values;
    for (int i = 0; i < 100; ++i) {
        Bytes value(1 + random() % 300);
        for (uint8_t& b : value) b = static_cast<uint8_t>(random());
        values.push_back(value);
        Orvex_Parameter_AddMem(ToHandle(list.get()), BlockOf(value),
                               static_cast<int32_t>(value.size()));
    }
    BlockPtr<uint8_t> block = EncodeParameters(list.get(), true);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(DecodeParameters(block.get(), -1, true), nullptr);  // nothing may be read
    const int32_t length = BlockSize(block.get());
    ParameterListPtr decoded = DecodeParameters(block.release(), length, true);  // releases it
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(decoded->Count(), 100);
    for (const Bytes& expected : values) {
        ParameterElementPtr element(decoded->Take());
        EXPECT_EQ(BytesOf(element->value), expected);
        EXPECT_EQ(element->size, static_cast<int32_t>(expected.size()));
    }
}

TEST(ParameterBlock, EncodingWithoutReleasingValuesLeavesThemToTheirOwner) {
    ParameterListPtr list(ParameterList::New());
    void* mine = BlockOf({1, 2, 3});
    Orvex_Parameter_AddMem(ToHandle(list.get()), mine, 3);
    EXPECT_EQ(BytesOf(EncodeParameters(list.get(), false).get()),
              (Bytes{1, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3}));
    EXPECT_EQ(BytesOf(mine), (Bytes{1, 2, 3}));  // still alive
    FreeBlock(mine);
}

TEST(ParameterBlock, ShortMemBlocksArePaddedAndNegativeSizesCarryNoBytes) {
    ParameterListPtr list(ParameterList::New());
    Orvex_Parameter_AddMem(ToHandle(list.get()), BlockOf({9}), 3);
    Orvex_Parameter_AddMem(ToHandle(list.get()), nullptr, -2);
    Orvex_Parameter_AddMem(ToHandle(list.get()), nullptr, 0);
    const Bytes encoded = Encode(list.get());
    EXPECT_EQ(encoded,
              (Bytes{3, 0, 0, 0, 3, 0, 0, 0, 9, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(Decode(encoded), nullptr);  // sizes of 0 or less cannot be decoded
}

TEST(ParameterBlock, EncodingThatCannotFitLeavesTheListAsItWas) {
    ParameterListPtr list(ParameterList::New());
    Orvex_Parameter_AddInteger(ToHandle(list.get()), 1);
    void* block = BlockOf({5});
    Orvex_Parameter_AddMem(ToHandle(list.get()), block, INT32_MAX);
    EXPECT_EQ(EncodeParameters(list.get(), true), nullptr);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(Orvex_Parameter_GetInteger(ToHandle(list.get())), 1);
    EXPECT_EQ(list->head->item->value, block);
}

TEST(ParameterBlock, ZeroOrNegativeValueSizeFailsWithoutLeaks) {
    const Bytes cases[] = {
        {2, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0xAA},
        {2, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA},
        {1, 0, 0, 0, 0, 0, 0, 0x80, 0xAA},
    };
    for (const Bytes& bytes : cases) EXPECT_EQ(Decode(bytes), nullptr);
}

TEST(ParameterBlock, TruncatedBlocksAndAbsurdCountsOrSizesFail) {
    const Bytes example = ExampleBlock();
    for (size_t cut = 0; cut < example.size(); ++cut) {
        EXPECT_EQ(DecodeExactly(example, cut), nullptr) << "cut at " << cut;
    }
    EXPECT_NE(DecodeExactly(example, example.size()), nullptr);

    const Bytes absurd[] = {
        {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0, 7},                 // huge count
        {2, 0, 0, 0, 1, 0, 0, 0, 7, 1, 0, 0, 0},                 // count 2, one value and a half
        {3, 0, 0, 0, 1, 0, 0, 0, 7, 1, 0, 0, 0, 8, 1, 0, 0, 0},  // count 3 but 2 whole values
        {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3},           // huge size
        {1, 0, 0, 0, 5, 0, 0, 0, 1, 2, 3, 4},                    // size one past the end
        {1, 0, 0, 0, 1, 0, 0},                                   // size word cut
    };
    for (const Bytes& bytes : absurd) {
        EXPECT_EQ(DecodeExactly(bytes, bytes.size()), nullptr) << ::testing::PrintToString(bytes);
    }
}

TEST(ParameterBlock, TrailingBytesAreIgnoredAndBlocksAreReleasedOnlyOnSuccess) {
    Bytes padded = ExampleBlock();
    padded.insert(padded.end(), {0xDE, 0xAD});
    ParameterListPtr decoded = Decode(padded);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->Count(), 2);

    void* bad = BlockOf({1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(DecodeParameters(bad, BlockSize(bad), true), nullptr);
    FreeBlock(bad);  // a failed decode leaves the block to its owner
}

}  // namespace
}  // namespace orvex
