#include "cache/cache_file.hpp"

#include <string>
#include <string_view>

#include "cache/file_reader.hpp"
#include "cache/replacing_file_writer.hpp"
#include "core/memory.hpp"
#include "core/text.hpp"

namespace orvex {
namespace {

constexpr char kLineEnd = 0x0A;
constexpr char kCarriageReturn = 0x0D;

// The bytes of a name in the file: as they are in the 8-bit build, UTF-8 in the Unicode build.
std::string NameToFile(const Text& name) {
#if defined(ORVEX_UNICODE)
    return Utf16ToUtf8(name);
#else
    return name;
#endif
}

Text NameFromFile(std::string_view bytes) {
#if defined(ORVEX_UNICODE)
    return Utf8ToUtf16(bytes);
#else
    return Text(bytes);
#endif
}

int32_t Low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint64_t>(value));
}

bool WriteRecord(ReplacingFileWriter& out, const CacheEntry& entry) {
    std::string line = NameToFile(entry.name);
    // A line end inside the name would split the record when the file is read back.
    if (line.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) return false;
    line.push_back(kLineEnd);
    out.Write(line.data(), line.size());
    out.WriteInt32(entry.lifetime);
    out.WriteInt64(entry.xtraData);
    out.WriteInt64(entry.size);
    out.Write(entry.data.get(), static_cast<size_t>(entry.size));
    return out.Ok();
}

// A name line ends at 0x0A, at 0x0D (0x0D 0x0A counting as one end), at a zero byte or at
// the end of the file; the end is not part of the name.
std::string ReadNameLine(FileReader& in) {
    std::string line;
    for (;;) {
        const int c = in.Get();
        if (c < 0 || c == kLineEnd || c == 0) break;
        if (c == kCarriageReturn) {
            if (in.Peek() == kLineEnd) in.Get();
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    return line;
}

// Reads one entry record and adds it. Entries that adding would refuse (size 0 or below,
// larger than a non-zero maxSize) are skipped without allocating; so is a record whose size
// reaches too far beyond the end of the file.
void LoadRecord(Cache& cache, FileReader& in, int32_t maxSize) {
    const Text name = NameFromFile(ReadNameLine(in));
    const int32_t lifetime = in.ReadInt32();
    const int32_t xtraData = Low32(in.ReadInt64());
    const int32_t size = Low32(in.ReadInt64());
    if (size <= 0) return;
    const bool tooLarge = maxSize != 0 && size > maxSize;
    const bool corrupt = size - in.Remaining() > kCacheFileMaxMissingBytes;
    BlockPtr<> data = tooLarge || corrupt ? nullptr : MakeBlock(size);
    if (data == nullptr) {
        in.Skip(size);
        return;
    }
    in.Read(data.get(), size);  // bytes missing at the end of the file stay zero
    cache.AddBlock(name, std::move(data), size, lifetime, xtraData);
}

}  // namespace

bool SaveCacheFile(Cache& cache, const std::filesystem::path& file) {
    ReplacingFileWriter out(file);
    if (!out.Open()) return false;
    bool complete = false;
    {
        const auto hold = cache.Hold();
        const CacheSettings settings = cache.Settings();
        out.WriteInt32(kCacheFileMagic);
        out.WriteInt64(settings.maxSize);
        out.WriteInt32(settings.ageTolerance);
        out.WriteInt64(settings.hitTolerance);
        complete =
            cache.ForEachEntry([&out](const CacheEntry& entry) { return WriteRecord(out, entry); });
    }
    return complete && out.Commit();
}

bool LoadCacheFile(Cache& cache, const std::filesystem::path& file) {
    FileReader in;
    if (!in.Open(file)) return false;
    // All four bytes must be there: with zeros for missing bytes, "HCC" alone would pass.
    unsigned char magic[4] = {};
    if (in.Read(magic, sizeof magic) != sizeof magic) return false;
    const auto value = static_cast<int32_t>(magic[0] | magic[1] << 8 | magic[2] << 16 |
                                            static_cast<uint32_t>(magic[3]) << 24);
    if (value != kCacheFileMagic) return false;

    const auto hold = cache.Hold();
    cache.Flush();
    CacheSettings settings;
    settings.maxSize = Low32(in.ReadInt64());
    settings.ageTolerance = in.ReadInt32();
    settings.hitTolerance = Low32(in.ReadInt64());
    cache.Configure(settings);
    while (!in.AtEnd()) LoadRecord(cache, in, settings.maxSize);
    return true;
}

}  // namespace orvex
