// Sequential reader of a binary file that knows how many bytes are left, so that a size read
// from the file can be checked against what the file can still supply before anything is
// allocated for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace orvex {

class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens a regular file for reading; false when it is missing, not a regular file or
    // cannot be opened.
    bool Open(const std::filesystem::path& path);

    // Bytes between the read position and the end of the file as it was when opened.
    int64_t Remaining() const { return remaining_; }
    bool AtEnd() { return Peek() < 0; }

    // The next byte (0-255) without or with consuming it; -1 at the end of the file.
    int Peek();
    int Get();

    // Reads up to `count` bytes; returns how many were read.
    int64_t Read(void* out, int64_t count);
    // Moves the read position forward by `count` bytes, at most to the end.
    void Skip(int64_t count);

    // Little-endian two's complement integers; bytes missing at the end of the file read as
    // zero.
    int32_t ReadInt32();
    int64_t ReadInt64();

  private:
    void Consumed(int64_t count) { remaining_ = remaining_ > count ? remaining_ - count : 0; }

    std::filebuf file_;
    int64_t remaining_ = 0;
};

}  // namespace orvex
