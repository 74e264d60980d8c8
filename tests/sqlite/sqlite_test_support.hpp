// Helpers of the storage-layer tests: a temporary folder for real database files, texts of
// the build, and an independent sqlite3 connection that reads back what landed in a file.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"

namespace orvex::sqlite_test {

// A folder made with mkdtemp, removed with everything in it at the end of the test.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvex-sqlite-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    // UTF-8 path of a file in the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A text of this build from UTF-8 (8-bit build: Latin-1, cut at the first other character).
inline Text T(std::string_view utf8) {
    return FromUtf8(utf8);
}

// The layer's last-error text, as UTF-8.
inline std::string LastError() {
    return ToUtf8(ViewOf(Orvex_SQLite_GetLastErrorString()));
}

// A caller-owned text as UTF-8, after checking that its block holds the text and exactly one
// terminator of the build; the block is freed.
inline std::string Take(OrvexChar* text) {
    EXPECT_NE(text, nullptr);
    if (text == nullptr) return "<null>";
    const TextView view = ViewOf(text);
    EXPECT_EQ(BlockSize(text), static_cast<int32_t>((view.size() + 1) * kCharSize));
    std::string utf8 = ToUtf8(view);
    Orvex_FreeMemory(text);
    return utf8;
}

// A second connection to a database file, made with the sqlite3 API alone.
class RawDatabase {
  public:
    explicit RawDatabase(const std::string& path) {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  nullptr),
                  SQLITE_OK);
    }
    ~RawDatabase() { sqlite3_close(db_); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    void Exec(const std::string& sql) {
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
            << sql << ": " << (message != nullptr ? message : "");
        sqlite3_free(message);
    }

    // Every row of a query, each column as its bytes (text or blob) or nullopt for NULL.
    using Row = std::vector<std::optional<std::string>>;
    std::vector<Row> Rows(const std::string& sql) {
        std::vector<Row> rows;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            Row row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                if (sqlite3_column_type(statement, i) == SQLITE_NULL) {
                    row.emplace_back(std::nullopt);
                    continue;
                }
                const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, i));
                row.emplace_back(
                    std::string(bytes != nullptr ? bytes : "", sqlite3_column_bytes(statement, i)));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        return rows;
    }

    // The first column of the first row ("" when there is none).
    std::string Value(const std::string& sql) {
        const auto rows = Rows(sql);
        return rows.empty() || !rows[0][0] ? std::string() : *rows[0][0];
    }
    int64_t Count(const std::string& table) {
        return std::stoll(Value("SELECT count(*) FROM " + table));
    }

    sqlite3* raw() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
};

// Base fixture: a temporary folder and a database "test.db" created through the layer.
class SQLiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        path = folder.File("test.db");
        db = Orvex_SQLite_Create(T(path).c_str());
        ASSERT_NE(db, nullptr) << LastError();
    }
    void TearDown() override {
        if (db != nullptr) {
            EXPECT_EQ(Orvex_SQLite_Close(db), 1) << LastError();
        }
    }
    // Runs SQL outside any batch and expects success.
    void Sync(const std::string& sql) {
        ASSERT_EQ(Orvex_SQLite_UpdateSync(db, T(sql).c_str()), 1) << sql << ": " << LastError();
    }
    int32_t Query(const std::string& sql) { return Orvex_SQLite_Query(db, T(sql).c_str()); }

    TempFolder folder;
    std::string path;
    OrvexSQLite* db = nullptr;
};

}  // namespace orvex::sqlite_test
