// The job registry's table arithmetic, growth and lookups.
#include <gtest/gtest.h>

#include <string>

#include "slave/job_registry.hpp"

namespace orvex {
namespace {

OrvexReturnValue* ORVEX_CALL JobA(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                  OrvexReceivedStream*) {
    return nullptr;
}
OrvexReturnValue* ORVEX_CALL JobB(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                  OrvexReceivedStream*) {
    return nullptr;
}

TEST(JobRegistry, NextSize) {
    const std::pair<int32_t, int32_t> cases[] = {{100, 101}, {202, 207}, {25, 27},  {1, 7},
                                                 {308, 309}, {410, 411}, {512, 517}};
    for (const auto& [request, size] : cases) EXPECT_EQ(JobRegistry::NextSize(request), size);
}

TEST(JobRegistry, HashIsDjb2OverTheKeyBytes) {
    EXPECT_EQ(JobRegistry::Hash(FromAscii("")), 5381u);
    EXPECT_EQ(JobRegistry::Hash(FromAscii("a")), 5381u * 33 + 'a');
    // In the Unicode build the hash stops at the zero high byte of the first character.
    if (kCharSize == 2) {
        EXPECT_EQ(JobRegistry::Hash(FromAscii("ab")), JobRegistry::Hash(FromAscii("a")));
    } else {
        EXPECT_EQ(JobRegistry::Hash(FromAscii("ab")), (5381u * 33 + 'a') * 33 + 'b');
    }
}

// Distinct names whose hashes differ. (In the Unicode build the hash stops at the zero high
// byte of a Latin character, so there such names use characters with two non-zero bytes.)
Text DistinctName(int i) {
    if (kCharSize == 1) return FromAscii("Job" + std::to_string(i));
    return Text{static_cast<Char>(0x4E01 + i % 200), static_cast<Char>(0x4F01 + i / 200)};
}

TEST(JobRegistry, GrowsAtTheSixtyEighthAndKeepsEveryName) {
    JobRegistry registry(100);
    EXPECT_EQ(registry.Capacity(), 101);
    for (int i = 1; i <= 300; ++i) {
        EXPECT_EQ(registry.Add(DistinctName(i), {}, JobA, false), i);
        if (i == 67) {
            EXPECT_EQ(registry.Capacity(), 101);
        } else if (i == 68) {
            EXPECT_EQ(registry.Capacity(), 207);
        }
    }
    // 101, 207, 309, 411, 517 (with these names the 8-bit build never fills a probe
    // sequence; in the Unicode build one fills up and the table grows once more).
    if (kCharSize == 1) {
        EXPECT_EQ(registry.Capacity(), 517);
    }
    for (int i = 1; i <= 300; ++i) {
        const auto entry = registry.Lookup(ToLower(DistinctName(i)));
        ASSERT_TRUE(entry.has_value()) << i;
        EXPECT_EQ(entry->number, i);
    }
    EXPECT_FALSE(registry.Lookup(DistinctName(301)).has_value());
}

// Names that share a start slot reach only the slots start + j*j; when those are taken the
// table grows instead of losing the registration.
TEST(JobRegistry, CollidingNamesAreNeverLost) {
    JobRegistry registry(100);
    for (int i = 0; i < 120; ++i) {
        // Unicode build: every name hashes like "j" alone.
        registry.Add(FromAscii("Jx" + std::to_string(i)), {}, JobA, false);
    }
    for (int i = 0; i < 120; ++i) {
        EXPECT_TRUE(registry.Lookup(FromAscii("JX" + std::to_string(i))).has_value()) << i;
    }
    EXPECT_EQ(registry.Count(), 120);
}

TEST(JobRegistry, DuplicatesNullFunctionsAndTheJobList) {
    JobRegistry registry(100);
    EXPECT_EQ(registry.Add(FromAscii("Same"), FromAscii("first"), JobA, false), 1);
    EXPECT_EQ(registry.Add(FromAscii("SAME"), FromAscii("second"), JobB, true), 2);
    const auto found = registry.Lookup(FromAscii("same"));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->function, JobA);
    EXPECT_FALSE(found->useCdecl);
    // A null function registers nothing: no number, no line, no entry.
    EXPECT_EQ(registry.Add(FromAscii("Empty"), FromAscii("none"), nullptr, false), 0);
    EXPECT_FALSE(registry.Lookup(FromAscii("Empty")).has_value());
    EXPECT_EQ(registry.Add(FromAscii("Third"), {}, JobB, false), 3);
    EXPECT_EQ(Narrow(registry.JobListText()),
              "Name: \"Same\" Description: \"first\"\n\r"
              "Name: \"SAME\" Description: \"second\"\n\r"
              "Name: \"Third\" Description: \"\"\n\r");
    EXPECT_EQ(Narrow(JobRegistry(100).JobListText()), "Currently no jobs avaible");
}

}  // namespace
}  // namespace orvex
