// Writes a file through a temporary file in the same folder, which replaces the target (a
// rename) only once everything was written and closed without error. A save that fails at
// any point leaves the previous file as it was and removes the temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace orvex {

class ReplacingFileWriter {
  public:
    explicit ReplacingFileWriter(std::filesystem::path target);
    ~ReplacingFileWriter();  // removes the temporary file unless Commit succeeded
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Creates the temporary file; false when it cannot be created.
    bool Open();

    // Writes are buffered; the first failure sticks and makes Commit fail.
    void Write(const void* bytes, size_t count);
    void WriteInt32(int32_t value);  // little-endian
    void WriteInt64(int64_t value);  // little-endian
    bool Ok() const { return ok_; }

    // Flushes and closes the temporary file and renames it over the target; false (target
    // untouched) when any write, the close or the rename failed.
    bool Commit();

  private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::filebuf file_;
    bool ok_ = false;
    bool committed_ = false;
};

}  // namespace orvex
