#include "cache/file_reader.hpp"

#include <algorithm>
#include <string>
#include <system_error>

namespace orvex {

bool FileReader::Open(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return false;
    if (file_.open(path, std::ios::in | std::ios::binary) == nullptr) return false;
    remaining_ = static_cast<int64_t>(size);
    return true;
}

int FileReader::Peek() {
    using Traits = std::filebuf::traits_type;
    const Traits::int_type c = file_.sgetc();  // an unsigned char value, or eof
    return Traits::eq_int_type(c, Traits::eof()) ? -1 : static_cast<int>(c);
}

int FileReader::Get() {
    const int c = Peek();
    if (c >= 0) {
        file_.sbumpc();
        Consumed(1);
    }
    return c;
}

int64_t FileReader::Read(void* out, int64_t count) {
    if (count <= 0) return 0;
    const auto got = static_cast<int64_t>(file_.sgetn(static_cast<char*>(out), count));
    Consumed(got);
    return got;
}

void FileReader::Skip(int64_t count) {
    if (count <= 0) return;
    const int64_t step = std::min(count, remaining_);
    if (step > 0) file_.pubseekoff(step, std::ios::cur, std::ios::in);
    Consumed(step);
    // Whatever lies beyond the size seen at opening counts as missing.
    if (count > step) file_.pubseekoff(0, std::ios::end, std::ios::in);
}

int32_t FileReader::ReadInt32() {
    unsigned char bytes[4] = {};
    Read(bytes, sizeof bytes);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
    return static_cast<int32_t>(value);
}

int64_t FileReader::ReadInt64() {
    unsigned char bytes[8] = {};
    Read(bytes, sizeof bytes);
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return static_cast<int64_t>(value);
}

}  // namespace orvex
