// MD5 message digest (RFC 1321), used by the demos to check texts on both sides of a job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvex::demo {

// Incremental MD5: Update with any number of byte runs, then Finish once.
class Md5 {
  public:
    using Digest = std::array<uint8_t, 16>;

    Md5() noexcept;
    void Update(std::span<const uint8_t> bytes) noexcept;
    Digest Finish() noexcept;

  private:
    void Transform(const uint8_t* block) noexcept;

    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0;  // bytes fed so far
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
};

// MD5 of a byte run, as 32 lowercase hexadecimal digits.
std::string Md5Hex(std::span<const uint8_t> bytes);
std::string Md5Hex(std::string_view text);

}  // namespace orvex::demo
