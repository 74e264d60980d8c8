#include "cache/replacing_file_writer.hpp"

#include <atomic>
#include <cstdio>
#include <random>
#include <system_error>
#include <utility>

namespace orvex {
namespace {

// A name beside the target that no other save (of this or another process) is using: the
// target's name with a random suffix.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target) {
    static std::atomic<uint64_t> counter{0};
    const uint64_t random = (static_cast<uint64_t>(std::random_device{}()) << 32) ^
                            std::random_device{}() ^ counter.fetch_add(1);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(random));
    std::filesystem::path temp = target;
    temp += suffix;
    return temp;
}

}  // namespace

ReplacingFileWriter::ReplacingFileWriter(std::filesystem::path target)
    : target_(std::move(target)) {}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (file_.is_open()) file_.close();
    if (!temp_.empty() && !committed_) {
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
    }
}

bool ReplacingFileWriter::Open() {
    try {
        std::filesystem::path temp = TemporaryNameFor(target_);
        std::error_code error;
        if (std::filesystem::exists(temp, error) || error) return false;
        if (file_.open(temp, std::ios::out | std::ios::binary | std::ios::trunc) == nullptr) {
            return false;
        }
        temp_ = std::move(temp);
        ok_ = true;
        return true;
    } catch (const std::exception&) {  // no random device, no memory for the path
        return false;
    }
}

void ReplacingFileWriter::Write(const void* bytes, size_t count) {
    if (!ok_ || count == 0) return;
    const auto wanted = static_cast<std::streamsize>(count);
    ok_ = file_.sputn(static_cast<const char*>(bytes), wanted) == wanted;
}

void ReplacingFileWriter::WriteInt32(int32_t value) {
    unsigned char bytes[4];
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    Write(bytes, sizeof bytes);
}

void ReplacingFileWriter::WriteInt64(int64_t value) {
    unsigned char bytes[8];
    const auto bits = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    Write(bytes, sizeof bytes);
}

bool ReplacingFileWriter::Commit() {
    if (!ok_ || !file_.is_open()) return false;
    // close() flushes the buffer and reports a failed flush or close as null.
    ok_ = file_.close() != nullptr;
    if (!ok_) return false;
    std::error_code error;
    std::filesystem::rename(temp_, target_, error);
    committed_ = !error;
    return committed_;
}

}  // namespace orvex
