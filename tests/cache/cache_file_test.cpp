// The cache file: exact bytes, round trips, foreign and damaged files, failed saves.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/cache_file.hpp"
#include "cache_fixture.hpp"

namespace orvex::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;

constexpr bool kUnicode = sizeof(Char) == 2;

// A name with letters outside ASCII, in UTF-8: "Ünïcode" and its lower-cased form.
constexpr const char* kUpperName = "\xC3\x9Cn\xC3\xAF\x63ode";
constexpr const char* kLowerName = "\xC3\xBCn\xC3\xAF\x63ode";

Bytes MagicBytes() {
    return kUnicode ? Bytes{0x48, 0x00, 0x43, 0x00} : Bytes{0x48, 0x43, 0x43, 0x00};
}

// Hand-made cache files.
struct FileBytes {
    Bytes bytes;

    FileBytes& Int32(int32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
    FileBytes& Int64(int64_t value) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
    FileBytes& Raw(std::string_view raw) {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    FileBytes& Header(int64_t maxSize, int32_t ageTolerance, int64_t hitTolerance,
                      int32_t magic = kCacheFileMagic) {
        return Int32(magic).Int64(maxSize).Int32(ageTolerance).Int64(hitTolerance);
    }
    // nameLine carries its own line end.
    FileBytes& Record(std::string_view nameLine, int32_t lifetime, int64_t xtraData, int64_t size,
                      std::string_view data) {
        return Raw(nameLine).Int32(lifetime).Int64(xtraData).Int64(size).Raw(data);
    }
};

// The example cache: maxSize 0, ageTolerance 10, hitTolerance 2, one entry "ab".
Bytes ExampleFile() {
    Bytes bytes = MagicBytes();
    const Bytes rest = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // maxSize
                        0x0A, 0x00, 0x00, 0x00,                          // ageTolerance
                        0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // hitTolerance
                        0x61, 0x62, 0x0A,                                // "ab" and the line end
                        0x3C, 0x00, 0x00, 0x00,                          // lifetime
                        0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // xtraData
                        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // size
                        0x01, 0x02, 0x03};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

class CacheFileTest : public CacheTest {
  protected:
    int32_t Save(OrvexCache* cache, std::string_view name) {
        return Orvex_Cache_SaveToFile(cache, PathText(name).c_str());
    }
    int32_t Load(OrvexCache* cache, std::string_view name) {
        return Orvex_Cache_LoadFromFile(cache, PathText(name).c_str());
    }
    int32_t LoadBytes(OrvexCache* cache, const Bytes& bytes) {
        WriteFile(dir_ / "input.cache", bytes);
        return Load(cache, "input.cache");
    }
    // A cache holding one entry "keep" with maxSize 50, to see that failed loads leave it.
    OrvexCache* CacheWithKeep() {
        OrvexCache* cache = NewCache(50, 1, 1);
        Add(cache, "keep", 7);
        return cache;
    }
    Names FolderContents() const {
        Names names;
        for (const auto& item : std::filesystem::directory_iterator(dir_)) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(CacheFileTest, ExampleCacheIsSavedByteForByte) {
    OrvexCache* cache = NewCache(0, 10, 2);
    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(Orvex_Cache_AddEntry(cache, T("AB").c_str(), data, 3, 60, 7), 1);
    ASSERT_EQ(Save(cache, "example.cache"), 1);
    EXPECT_EQ(ReadFile(dir_ / "example.cache"), ExampleFile());
}

TEST_F(CacheFileTest, EmptyCacheIsTheHeaderWithSignExtendedSettings) {
    OrvexCache* cache = NewCache(5, -1, -2);
    ASSERT_EQ(Save(cache, "empty.cache"), 1);
    Bytes expected = MagicBytes();
    const Bytes rest = {0x05, 0,    0,    0,    0,    0,    0,    0,    0xFF, 0xFF,
                        0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(ReadFile(dir_ / "empty.cache"), expected);
}

TEST_F(CacheFileTest, RoundTripKeepsEntriesAndSettingsAndRestartsTheirLives) {
    OrvexCache* saved = NewCache(1000, 10, 2);
    SetTime(100);
    const uint8_t first[3] = {1, 2, 3};
    Orvex_Cache_AddEntry(saved, T("First").c_str(), first, 3, 0, -7);
    Add(saved, kUpperName, 5, 0, 1 << 30, 0x11);
    Add(saved, "dup", 2, 0, 1, 0x22);
    Add(saved, "dup", 2, 0, 2, 0x33);
    Add(saved, "brief", 4, 5, 0, 0x44);
    SetTime(200);  // "brief" has expired but is still in the list: it is saved too
    ASSERT_EQ(Save(saved, "round.cache"), 1);
    const Bytes file = ReadFile(dir_ / "round.cache");

    // The non-ASCII name is stored as UTF-8 by the Unicode build, as its bytes otherwise.
    const std::string text = kUnicode ? std::string(kLowerName) : Utf8ToLatin1(kLowerName);
    Bytes line(text.begin(), text.end());
    line.push_back(0x0A);
    EXPECT_NE(std::search(file.begin(), file.end(), line.begin(), line.end()), file.end());

    OrvexCache* loaded = NewCache(0, 0, 0);
    Add(loaded, "stale", 9);
    SetTime(300);
    ASSERT_EQ(Load(loaded, "round.cache"), 1);
    struct Seen {
        std::string name;
        Bytes data;
        int32_t xtraData;
        int32_t age;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    Orvex_Cache_Examine(loaded);
    while (Orvex_Cache_NextEntry(loaded) == 1) {
        seen.push_back({SelectedName(loaded), SelectedBytes(loaded),
                        Orvex_Cache_GetXtraData(loaded), Orvex_Cache_GetAge(loaded)});
    }
    const std::vector<Seen> expected = {{"first", {1, 2, 3}, -7, 0},
                                        {kLowerName, Bytes(5, 0x11), 1 << 30, 0},
                                        {"dup", Bytes(2, 0x22), 1, 0},
                                        {"dup", Bytes(2, 0x33), 2, 0},
                                        {"brief", Bytes(4, 0x44), 0, 0}};
    EXPECT_EQ(seen, expected);

    // Settings, order, lifetimes and values come back unchanged: saving again over the same
    // file gives the same bytes.
    ASSERT_EQ(Save(loaded, "round.cache"), 1);
    EXPECT_EQ(ReadFile(dir_ / "round.cache"), file);

    // The lifetime of "brief" counts from the load.
    SetTime(304);
    Orvex_Cache_CleanUp(loaded);
    EXPECT_EQ(Orvex_Cache_GetSize(loaded), 16);
    SetTime(305);
    Orvex_Cache_CleanUp(loaded);
    EXPECT_EQ(Orvex_Cache_GetSize(loaded), 12);
}

TEST_F(CacheFileTest, FilesThatAreNotCacheFilesOfThisBuildLeaveTheCacheAlone) {
    const int32_t otherMagic = kUnicode ? kCacheFileMagic8Bit : kCacheFileMagicUnicode;
    const Bytes magic = MagicBytes();
    const std::pair<const char*, Bytes> files[] = {
        {"other build",
         FileBytes().Header(0, 10, 2, otherMagic).Record("ab\n", 60, 7, 1, "x").bytes},
        {"three bytes of the magic", Bytes(magic.begin(), magic.begin() + 3)},
        {"empty", Bytes()},
        {"text", FileBytes().Raw("hello, world\n").bytes},
    };
    OrvexCache* cache = CacheWithKeep();
    for (const auto& [title, bytes] : files) {
        EXPECT_EQ(LoadBytes(cache, bytes), 0) << title;
    }
    std::filesystem::create_directory(dir_ / "folder");
    EXPECT_EQ(Load(cache, "folder"), 0);
    EXPECT_EQ(Load(cache, "does-not-exist"), 0);
    EXPECT_EQ(Orvex_Cache_LoadFromFile(cache, nullptr), 0);
    EXPECT_EQ(Walk(cache), (Names{"keep"}));
    EXPECT_EQ(Add(cache, "over-the-limit", 51), 0);  // maxSize still 50
}

TEST_F(CacheFileTest, EntriesLargerThanTheFilesMaxSizeAreRefused) {
    OrvexCache* cache = NewCache();
    const Bytes file = FileBytes()
                           .Header(20, 0, 0)
                           .Record("a\n", 0, 0, 5, "aaaaa")
                           .Record("b\n", 0, 0, 50, std::string(50, 'b'))
                           .Record("c\n", 0, 0, 5, "ccccc")
                           .bytes;
    ASSERT_EQ(LoadBytes(cache, file), 1);
    EXPECT_EQ(Walk(cache), (Names{"a", "c"}));
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 10);
}

struct CutShort {
    size_t length;
    int32_t result;
    Names names;
    Bytes data;  // of "ab", when loaded
};

TEST_F(CacheFileTest, FileCutShortReadsMissingBytesAsZero) {
    const CutShort cases[] = {
        {50, 1, {"ab"}, {1, 2, 3}},  // whole
        {49, 1, {"ab"}, {1, 2, 0}},
        {47, 1, {"ab"}, {0, 0, 0}},  // no data at all
        {40, 1, {"ab"}, {0, 0, 0}},  // first byte of the size only
        {39, 1, {}, {}},             // size reads as 0: refused
        {27, 1, {}, {}},             // name line only
        {25, 1, {}, {}},             // name ended by the end of the file
        {24, 1, {}, {}},             // header only
        {10, 1, {}, {}},             // header cut short: zeros
        {4, 1, {}, {}},              // the magic only
        {3, 0, {"keep"}, {}},        // not even the magic
        {0, 0, {"keep"}, {}},
    };
    const Bytes example = ExampleFile();
    for (const CutShort& cut : cases) {
        SCOPED_TRACE(cut.length);
        OrvexCache* cache = CacheWithKeep();
        ASSERT_EQ(LoadBytes(cache, Bytes(example.begin(), example.begin() + cut.length)),
                  cut.result);
        ASSERT_EQ(Walk(cache), cut.names);
        if (cut.names == Names{"ab"}) {
            EXPECT_EQ(SelectedBytes(cache), cut.data);
            EXPECT_EQ(Orvex_Cache_GetXtraData(cache), cut.length > 31 ? 7 : 0);
        }
    }
}

TEST_F(CacheFileTest, NameLinesEndAtLineFeedCarriageReturnZeroOrTheEnd) {
    OrvexCache* cache = NewCache();
    const Bytes file = FileBytes()
                           .Header(0, 0, 0)
                           .Record("a\r\n", 0, 0, 1, "1")
                           .Record("b\r", 0, 0, 1, "2")
                           .Record(std::string_view("c\0", 2), 0, 0, 1, "3")
                           .Record("D\n", 0, 0, 1, "4")
                           .Raw("e")
                           .bytes;
    ASSERT_EQ(LoadBytes(cache, file), 1);
    EXPECT_EQ(Walk(cache), (Names{"a", "b", "c", "d"}));
}

struct CorruptTail {
    const char* title;
    Bytes tail;
    Names names;
    int32_t size;
};

TEST_F(CacheFileTest, SizesAreCheckedAgainstWhatTheFileHolds) {
    const int64_t allowance = kCacheFileMaxMissingBytes;
    const CorruptTail cases[] = {
        {"size far beyond the end",
         FileBytes().Record("bad\n", 0, 0, 0x7FFFFFFF, "abc").bytes,
         {"first"},
         2},
        {"missing bytes within the allowance",
         FileBytes().Record("pad\n", 0, 0, 3 + allowance, "abc").bytes,
         {"first", "pad"},
         static_cast<int32_t>(2 + 3 + allowance)},
        {"one byte beyond the allowance",
         FileBytes().Record("bad\n", 0, 0, 3 + allowance + 1, "abc").bytes,
         {"first"},
         2},
        {"high half of the size ignored",
         FileBytes().Record("hi\n", 0, 0, static_cast<int64_t>(0xFFFFFFFF00000003), "abc").bytes,
         {"first", "hi"},
         5},
        {"negative size refused, next record read",
         FileBytes().Record("neg\n", 0, 0, -1, "").Record("next\n", 0, 0, 1, "n").bytes,
         {"first", "next"},
         3},
    };
    for (const CorruptTail& tail : cases) {
        SCOPED_TRACE(tail.title);
        OrvexCache* cache = NewCache();
        Bytes file = FileBytes().Header(0, 0, 0).Record("first\n", 0, 0, 2, "xy").bytes;
        file.insert(file.end(), tail.tail.begin(), tail.tail.end());
        ASSERT_EQ(LoadBytes(cache, file), 1);
        EXPECT_EQ(Walk(cache), tail.names);
        EXPECT_EQ(Orvex_Cache_GetSize(cache), tail.size);
    }
    // The zero-filled entry keeps the bytes that were there.
    OrvexCache* cache = NewCache();
    ASSERT_EQ(
        LoadBytes(cache, FileBytes().Header(0, 0, 0).Record("pad\n", 0, 0, 1000, "abc").bytes), 1);
    ASSERT_EQ(Lookup(cache, "pad"), 1);
    Bytes expected(1000, 0);
    expected[0] = 'a', expected[1] = 'b', expected[2] = 'c';
    EXPECT_EQ(SelectedBytes(cache), expected);
}

TEST_F(CacheFileTest, FailedSaveLeavesThePreviousFileAndNoTemporaryFile) {
    OrvexCache* cache = NewCache();
    Add(cache, "ok", 3);
    ASSERT_EQ(Save(cache, "good.cache"), 1);
    const Bytes before = ReadFile(dir_ / "good.cache");

    Add(cache, "line\nbreak", 3);  // the format cannot carry it
    EXPECT_EQ(Save(cache, "good.cache"), 0);
    EXPECT_EQ(ReadFile(dir_ / "good.cache"), before);
    Orvex_Cache_DeleteEntry(cache, T("line\nbreak").c_str());

    std::filesystem::create_directory(dir_ / "folder");
    EXPECT_EQ(Save(cache, "folder"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "folder"));
    EXPECT_EQ(Save(cache, "missing/x.cache"), 0);
    EXPECT_EQ(Orvex_Cache_SaveToFile(cache, nullptr), 0);
    EXPECT_EQ(Orvex_Cache_SaveToFile(cache, T("").c_str()), 0);

    EXPECT_EQ(FolderContents(), (Names{"folder", "good.cache"}));
}

}  // namespace
}  // namespace orvex::test
