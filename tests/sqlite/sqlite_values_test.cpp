// Typed values and stored blobs: binding them, reading them back, and what lands in the file.
#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>

#include "sqlite/sqlite_test_support.hpp"

namespace orvex::sqlite_test {
namespace {

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Le32(int32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
    return out;
}

std::string Deflate(std::string_view data) {
    uLongf length = compressBound(data.size());
    std::string out(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                        reinterpret_cast<const Bytef*>(data.data()), data.size(), 6),
              Z_OK);
    out.resize(length);
    return out;
}

class ValuesTest : public SQLiteTest {
  protected:
    void SetUp() override {
        SQLiteTest::SetUp();
        Sync("CREATE TABLE v (i INT, q INT, d REAL, s TEXT, b BLOB)");
    }
    // Stores one blob row through the layer; false when StoreAsBlob refuses it.
    bool StoreBlob(const void* data, int32_t size, int32_t flags) {
        EXPECT_EQ(Query("INSERT INTO v (b) VALUES (?)"), 1);
        const bool stored = Orvex_SQLite_StoreAsBlob(db, 0, data, size, flags) == 1;
        if (stored) {
            EXPECT_EQ(Orvex_SQLite_StoreRow(db), 1) << LastError();
        }
        EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
        return stored;
    }
    // Opens a query on the b column and selects its only row.
    void SelectBlob() {
        ASSERT_EQ(Query("SELECT b FROM v"), 1);
        ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    }
    std::string StoredBytes() {
        RawDatabase other(path);
        return other.Value("SELECT b FROM v");
    }
};

TEST_F(ValuesTest, TypedValuesReachTheFileUnchangedAndComeBack) {
    // Quotes, a statement terminator and a comment inside a value are only data.
    const std::string tricky = "O'Brien said \"hi\"'); DROP TABLE v; -- caf\xC3\xA9";
    ASSERT_EQ(Query("INSERT INTO v (i, q, d, s) VALUES (?, ?, ?, ?)"), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsLong(db, 0, INT32_MIN), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsQuad(db, 1, INT64_MAX), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsDouble(db, 2, -1.5e300), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsString(db, 3, T(tricky).c_str()), 1);
    EXPECT_EQ(LastError(), "");
    ASSERT_EQ(Orvex_SQLite_StoreRow(db), 1);
    ASSERT_EQ(Orvex_SQLite_EndQuery(db), 1);

    RawDatabase other(path);
    const auto rows = other.Rows("SELECT typeof(i), i, typeof(q), q, d = -1.5e300, s FROM v");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0], "integer");
    EXPECT_EQ(*rows[0][1], "-2147483648");
    EXPECT_EQ(*rows[0][3], "9223372036854775807");
    EXPECT_EQ(*rows[0][4], "1");
    EXPECT_EQ(*rows[0][5], tricky);

    ASSERT_EQ(Query("SELECT i, q, d, s FROM v"), 1);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsLong(db, 0), INT32_MIN);
    EXPECT_EQ(Orvex_SQLite_GetAsQuad(db, 1), INT64_MAX);
    EXPECT_EQ(Orvex_SQLite_GetAsDouble(db, 2), -1.5e300);
    EXPECT_EQ(Take(Orvex_SQLite_GetAsString(db, 3)), tricky);
    EXPECT_EQ(LastError(), "");
    // A column that the row does not have is a failure, not a 0 read.
    EXPECT_EQ(Orvex_SQLite_GetAsLong(db, 4), 0);
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Orvex_SQLite_GetAsDouble(db, -1), 0.0);
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(ValuesTest, TextsAreConvertedFromUtf8ForThisBuild) {
    const struct {
        const char* literal;   // SQL expression stored in column s
        const char* expected;  // what GetAsString gives, as UTF-8
        const char* error;
    } cases[] = {
        {"'caf\xC3\xA9'", "caf\xC3\xA9", ""},
#if defined(ORVEX_UNICODE)
        {"'ab\xE2\x82\xAC"
         "cd\xF0\x9F\x98\x80'",
         "ab\xE2\x82\xAC"
         "cd\xF0\x9F\x98\x80",
         ""},
        {"CAST(x'61FF62' AS TEXT)",
         "a\xEF\xBF\xBD"
         "b",
         ""},  // invalid byte: U+FFFD
#else
        // Latin-1 cannot hold the euro sign: the text ends there.
        {"'ab\xE2\x82\xAC"
         "cd'",
         "ab", ""},
        {"CAST(x'61FF62' AS TEXT)", "a", ""},
#endif
        {"''", "", ""},
        {"NULL", "", "Null pointer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        RawDatabase(path).Exec(std::string("DELETE FROM v; INSERT INTO v (s) VALUES (") +
                               c.literal + ")");
        ASSERT_EQ(Query("SELECT s FROM v"), 1);
        ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
        EXPECT_EQ(Take(Orvex_SQLite_GetAsString(db, 0)), c.expected);
        EXPECT_EQ(LastError(), c.error);
        EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    }
}

TEST_F(ValuesTest, StoredStringsAreUtf8InTheFile) {
#if defined(ORVEX_UNICODE)
    const std::string text = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // é € and a surrogate pair
#else
    const std::string text = "\xC3\xA9\xC3\xBF";  // Latin-1 bytes E9 FF
#endif
    ASSERT_EQ(Query("INSERT INTO v (s) VALUES (?)"), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsString(db, 0, T(text).c_str()), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsString(db, 0, nullptr), 1);  // null: the empty text
    ASSERT_EQ(Orvex_SQLite_StoreRow(db), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsString(db, 0, T(text).c_str()), 1);
    ASSERT_EQ(Orvex_SQLite_StoreRow(db), 1);
    ASSERT_EQ(Orvex_SQLite_EndQuery(db), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Value("SELECT group_concat(hex(s), ',') FROM v"), "," + Hex(text));
}

TEST_F(ValuesTest, StoringWithoutAQueryNamesTheFunction) {
    const int32_t data = 0;
    const struct {
        const char* function;
        std::function<int32_t()> call;
    } cases[] = {
        {"Orvex_SQLite_StoreAsLong", [&] { return Orvex_SQLite_StoreAsLong(db, 0, 1); }},
        {"Orvex_SQLite_StoreAsQuad", [&] { return Orvex_SQLite_StoreAsQuad(db, 0, 1); }},
        {"Orvex_SQLite_StoreAsDouble", [&] { return Orvex_SQLite_StoreAsDouble(db, 0, 1.0); }},
        {"Orvex_SQLite_StoreAsString",
         [&] { return Orvex_SQLite_StoreAsString(db, 0, T("x").c_str()); }},
        {"Orvex_SQLite_StoreAsBlob",
         [&] { return Orvex_SQLite_StoreAsBlob(db, 0, &data, sizeof data, 1); }},
        {"Orvex_SQLite_StoreRow", [&] { return Orvex_SQLite_StoreRow(db); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(LastError(),
                  std::string("Orvex_SQLite_Query must be called before calling ") + c.function);
    }
}

TEST_F(ValuesTest, CompressedBlobIsHeaderAndZlibStream) {
    const std::string zeros(100000, '\0');
    ASSERT_TRUE(StoreBlob(zeros.data(), 100000, 1));
    const std::string stored = StoredBytes();
    EXPECT_LT(stored.size(), 8u + 400u) << stored.size();
    EXPECT_EQ(stored.substr(0, 8), Le32(1) + Le32(100000));
    EXPECT_EQ(static_cast<unsigned char>(stored[8]), 0x78);  // zlib header

    SelectBlob();
    EXPECT_EQ(Orvex_SQLite_GetAsBlobFlags(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsBlobSize(db, 0), 100000);
    void* data = Orvex_SQLite_GetAsBlobPointer(db, 0);
    ASSERT_NE(data, nullptr) << LastError();
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(BlockSize(data), 100000);
    EXPECT_EQ(std::memcmp(data, zeros.data(), zeros.size()), 0);
    Orvex_FreeMemory(data);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(ValuesTest, UncompressedBlobKeepsFlagsAndIsCopiedAtBinding) {
    char data[] = "plain bytes";
    ASSERT_EQ(Query("INSERT INTO v (i, b) VALUES (?, ?)"), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsBlob(db, 1, data, 11, 6), 1);
    std::memset(data, 'X', 11);        // the caller's buffer is free once the call returns
    for (int32_t i = 0; i < 2; ++i) {  // the blob stays bound for the second row
        ASSERT_EQ(Orvex_SQLite_StoreAsLong(db, 0, i), 1);
        ASSERT_EQ(Orvex_SQLite_StoreRow(db), 1);
    }
    ASSERT_EQ(Orvex_SQLite_EndQuery(db), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Value("SELECT count(DISTINCT b) || count(*) FROM v"), "12");
    EXPECT_EQ(other.Value("SELECT b FROM v"), Le32(6) + Le32(11) + "plain bytes");

    SelectBlob();
    EXPECT_EQ(Orvex_SQLite_GetAsBlobFlags(db, 0), 6);
    EXPECT_EQ(Orvex_SQLite_GetAsBlobSize(db, 0), 11);
    void* read = Orvex_SQLite_GetAsBlobPointer(db, 0);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(read), BlockSize(read)), "plain bytes");
    Orvex_FreeMemory(read);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(ValuesTest, CompressionLevels) {
    const std::string data = "level test level test level test";
    ASSERT_EQ(Orvex_SQLite_SetCompressionLevel(db, 10), 1);
    EXPECT_FALSE(StoreBlob(data.data(), static_cast<int32_t>(data.size()), 1));
    ASSERT_EQ(Query("INSERT INTO v (b) VALUES (?)"), 1);
    EXPECT_EQ(Orvex_SQLite_StoreAsBlob(db, 0, data.data(), 4, 1), 0);
    EXPECT_EQ(LastError(), "Orvex_SQLite_StoreAsBlob error: compressing buffer failed");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);

    // Level 0: a zlib stream of stored blocks, longer than the data itself.
    ASSERT_EQ(Orvex_SQLite_SetCompressionLevel(db, 0), 1);
    ASSERT_TRUE(StoreBlob(data.data(), static_cast<int32_t>(data.size()), 1));
    const std::string stored = StoredBytes();
    EXPECT_GT(stored.size(), 8 + data.size());
    EXPECT_NE(stored.find(data), std::string::npos);
    SelectBlob();
    void* read = Orvex_SQLite_GetAsBlobPointer(db, 0);
    ASSERT_NE(read, nullptr) << LastError();
    EXPECT_EQ(std::string(static_cast<char*>(read), BlockSize(read)), data);
    Orvex_FreeMemory(read);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(ValuesTest, BlobGettersOffARowOrWithoutData) {
    const int32_t nothing = 0;
    ASSERT_TRUE(StoreBlob(&nothing, 0, 0));  // header alone
    EXPECT_EQ(StoredBytes(), Le32(0) + Le32(0));

    ASSERT_EQ(Query("SELECT b FROM v"), 1);
    // Before any row: the header getters find no blob, the pointer getter no row.
    EXPECT_EQ(Orvex_SQLite_GetAsBlobFlags(db, 0), 0);
    EXPECT_EQ(LastError(), "null pointer");
    EXPECT_EQ(Orvex_SQLite_GetAsBlobPointer(db, 0), nullptr);
    EXPECT_EQ(LastError(), "failed");
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsBlobSize(db, 0), 0);
    EXPECT_EQ(LastError(), "incorrect size");
    EXPECT_EQ(Orvex_SQLite_GetAsBlobPointer(db, 0), nullptr);
    EXPECT_EQ(LastError(), "incorrect size");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsBlobFlags(db, 0), 0);
    EXPECT_EQ(LastError(), "Orvex_SQLite_Query was not called before");

    // No data compressed still has no data to hand out.
    Sync("DELETE FROM v");
    ASSERT_TRUE(StoreBlob(nullptr, 0, 1));
    SelectBlob();
    EXPECT_EQ(Orvex_SQLite_GetAsBlobFlags(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsBlobPointer(db, 0), nullptr);
    EXPECT_EQ(LastError(), "incorrect size");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);

    ASSERT_EQ(Query("INSERT INTO v (b) VALUES (?)"), 1);
    EXPECT_EQ(Orvex_SQLite_StoreAsBlob(db, 0, nullptr, 5, 0), 0);
    EXPECT_EQ(Orvex_SQLite_StoreAsBlob(db, 0, &nothing, -1, 1), 0);
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

// Values written by other software (or damaged) are read as stored blobs, and refused when
// their header does not fit their payload, before anything is allocated for them.
TEST_F(ValuesTest, ForeignAndDamagedBlobs) {
    const std::string hello = Deflate("hello");
    const struct {
        const char* name;
        std::string value;
        const char* data;  // expected data, or null for a refusal
        const char* error;
    } cases[] = {
        {"foreign, plain", Le32(6) + Le32(3) + "ABC", "ABC", ""},
        {"foreign, compressed", Le32(1) + Le32(5) + hello, "hello", ""},
        {"garbage stream", Le32(1) + Le32(10) + "zzzzzzzz", nullptr, "can not decompress buffer"},
        {"absurd size", Le32(1) + Le32(INT32_MAX) + hello, nullptr, "can not decompress buffer"},
        {"inflates short", Le32(1) + Le32(8) + hello, nullptr, "can not decompress buffer"},
        {"inflates long", Le32(1) + Le32(3) + hello, nullptr, "can not decompress buffer"},
        {"truncated stream", Le32(1) + Le32(5) + hello.substr(0, hello.size() - 3), nullptr,
         "can not decompress buffer"},
        {"plain, size beyond payload", Le32(0) + Le32(100) + "abc", nullptr, "incorrect size"},
        {"plain, size short of payload", Le32(0) + Le32(2) + "abc", nullptr, "incorrect size"},
        {"negative size", Le32(1) + Le32(-5) + hello, nullptr, "incorrect size"},
        {"header only", Le32(1) + Le32(5), nullptr, "incorrect size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawDatabase(path).Exec("DELETE FROM v; INSERT INTO v (b) VALUES (x'" + Hex(c.value) + "')");
        SelectBlob();
        void* data = Orvex_SQLite_GetAsBlobPointer(db, 0);
        EXPECT_EQ(LastError(), c.error);
        if (c.data != nullptr) {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::string(static_cast<char*>(data), BlockSize(data)), c.data);
        } else {
            EXPECT_EQ(data, nullptr);
        }
        Orvex_FreeMemory(data);
        EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    }

    RawDatabase(path).Exec("DELETE FROM v; INSERT INTO v (b) VALUES (NULL)");
    SelectBlob();
    EXPECT_EQ(Orvex_SQLite_GetAsBlobSize(db, 0), 0);
    EXPECT_EQ(LastError(), "null pointer");
    EXPECT_EQ(Orvex_SQLite_GetAsBlobPointer(db, 0), nullptr);
    EXPECT_EQ(LastError(), "Null pointer");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

}  // namespace
}  // namespace orvex::sqlite_test
