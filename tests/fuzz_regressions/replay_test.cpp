// Replays every seed input (fuzz/corpus/<target>/) and every input that once made a fuzz
// target fail (fuzz/regressions/<target>/) through the target's own body. It runs in every
// build, plain, ASan+UBSan and TSan, without clang or libFuzzer; a target aborts with a
// message when a check fails, and the sanitizers report what they find as in the fuzzers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_target.hpp"

namespace orvex::fuzz {
namespace {

struct Target {
    const char* folder;
    int (*run)(const uint8_t* data, size_t size);
};

const Target kTargets[] = {
    {"decode_parameters", DecodeParametersInput},
    {"stored_blob", StoredBlobInput},
    {"cache_file", CacheFileInput},
    {"master_dispatch", MasterDispatchInput},
    {"slave_dispatch", SlaveDispatchInput},
};

const std::filesystem::path& FuzzFolder() {
    static const std::filesystem::path folder =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";
    return folder;
}

std::vector<std::filesystem::path> InputsOf(const std::string& target, const char* kind) {
    std::vector<std::filesystem::path> inputs;
    const std::filesystem::path folder = FuzzFolder() / kind / target;
    if (!std::filesystem::is_directory(folder)) return inputs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndRegressionsRunClean) {
    const Target& target = GetParam();
    const auto seeds = InputsOf(target.folder, "corpus");
    ASSERT_FALSE(seeds.empty()) << "no seed inputs for " << target.folder;
    auto inputs = seeds;
    const auto regressions = InputsOf(target.folder, "regressions");
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.string());
        const std::vector<uint8_t> bytes = ReadFile(path);
        EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.folder); });

}  // namespace
}  // namespace orvex::fuzz
