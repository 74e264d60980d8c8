// Database handles, transaction batching and the layer's last-error text.
#include <fstream>
#include <functional>
#include <thread>

#include "sqlite/sqlite_database.hpp"
#include "sqlite/sqlite_test_support.hpp"

namespace orvex::sqlite_test {
namespace {

namespace fs = std::filesystem;

TEST(SQLiteHandle, CreateReplacesAnExistingDatabaseWithAnEmptyOne) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.File("old.db");
    {
        RawDatabase raw(path);
        raw.Exec("CREATE TABLE t (a INT); INSERT INTO t VALUES (1)");
    }
    OrvexSQLite* db = Orvex_SQLite_Create(T(path).c_str());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(Orvex_SQLite_UpdateSync(db, T("CREATE TABLE fresh (b TEXT)").c_str()), 1);
    EXPECT_EQ(Orvex_SQLite_Close(db), 1);
    RawDatabase raw(path);
    EXPECT_EQ(raw.Value("SELECT group_concat(name) FROM sqlite_master"), "fresh");
}

TEST(SQLiteHandle, FileNamesReachTheFileSystemAsUtf8AndErrorsNameThem) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    // "é" exists in both builds: Latin-1 byte 0xE9 in the 8-bit build.
    const std::string created = folder.File("d\xC3\xA9j\xC3\xA0.db");
    OrvexSQLite* db = Orvex_SQLite_Create(T(created).c_str());
    ASSERT_NE(db, nullptr) << LastError();
    EXPECT_TRUE(fs::exists(created));
    EXPECT_EQ(Orvex_SQLite_Close(db), 1);

    const std::string missing = folder.File("n\xC3\xB6pe.db");
    EXPECT_EQ(Orvex_SQLite_Open(T(missing).c_str()), nullptr);
    EXPECT_EQ(LastError(), "can not open database '" + missing + "'");
    EXPECT_FALSE(fs::exists(missing));

    const std::string noFolder = folder.File("no/such/folder.db");
    EXPECT_EQ(Orvex_SQLite_Create(T(noFolder).c_str()), nullptr);
    EXPECT_EQ(LastError(), "can not create file '" + noFolder + "'");

    // An empty name is not a file (SQLite would give a private temporary database).
    EXPECT_EQ(Orvex_SQLite_Open(nullptr), nullptr);
    EXPECT_EQ(LastError(), "can not open database ''");
    EXPECT_EQ(Orvex_SQLite_Create(T("").c_str()), nullptr);
    EXPECT_EQ(LastError(), "can not create file ''");

    db = Orvex_SQLite_Open(T(created).c_str());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Orvex_SQLite_Close(db), 1);
}

using BatchingTest = SQLiteTest;

TEST_F(BatchingTest, UpdatesStayInOneTransactionUntilACommitPoint) {
    // Each way of ending the batch, and whether it leaves the handle open.
    const struct {
        const char* name;
        std::function<int32_t(OrvexSQLite*)> commit;
        bool closes;
    } cases[] = {
        {"Flush", [](OrvexSQLite* h) { return Orvex_SQLite_Flush(h); }, false},
        {"UpdateSync",
         [](OrvexSQLite* h) {
             return Orvex_SQLite_UpdateSync(h, T("INSERT INTO t VALUES (100)").c_str());
         },
         false},
        {"Query",
         [](OrvexSQLite* h) {
             const int32_t ok = Orvex_SQLite_Query(h, T("SELECT a FROM t").c_str());
             Orvex_SQLite_EndQuery(h);
             return ok;
         },
         false},
        {"Close", [](OrvexSQLite* h) { return Orvex_SQLite_Close(h); }, true},
    };
    Sync("CREATE TABLE t (a INT)");
    RawDatabase other(path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sync("DELETE FROM t");
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(Orvex_SQLite_Update(
                          db, T("INSERT INTO t VALUES (" + std::to_string(i) + ")").c_str()),
                      1);
            EXPECT_EQ(LastError(), "");
        }
        EXPECT_EQ(other.Count("t"), 0);
        EXPECT_EQ(c.commit(db), 1) << LastError();
        EXPECT_EQ(other.Value("SELECT count(*) FROM t WHERE a < 10"), "10");
        if (c.closes) db = nullptr;
    }
}

TEST_F(BatchingTest, FlushWithoutPendingUpdatesFails) {
    Sync("CREATE TABLE t (a INT)");
    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);
    EXPECT_EQ(LastError(), "failed");
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (1)").c_str()), 1);
    EXPECT_EQ(Orvex_SQLite_Flush(db), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);
    EXPECT_EQ(LastError(), "failed");
}

TEST_F(BatchingTest, AFailingStatementReportsSQLiteAndKeepsTheBatch) {
    Sync("CREATE TABLE t (a INT)");
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (1)").c_str()), 1);
    EXPECT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO missing VALUES (2)").c_str()), 0);
    EXPECT_EQ(LastError(), "no such table: missing");
    // Several statements in one text run in order up to the failing one.
    EXPECT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (3); INSERT INTO t VALUES (x); "
                                        "INSERT INTO t VALUES (4)")
                                          .c_str()),
              0);
    EXPECT_EQ(LastError(), "no such column: x");
    EXPECT_EQ(Orvex_SQLite_UpdateSync(db, T("SELEC 1").c_str()), 0);
    EXPECT_EQ(LastError(), "near \"SELEC\": syntax error");
    RawDatabase other(path);
    EXPECT_EQ(other.Value("SELECT group_concat(a) FROM t"), "1,3");
}

TEST_F(BatchingTest, ABatchThatSQLiteRolledBackIsNoLongerPending) {
    Sync("CREATE TABLE t (a INT UNIQUE)");
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (1)").c_str()), 1);
    EXPECT_EQ(Orvex_SQLite_Update(db, T("INSERT OR ROLLBACK INTO t VALUES (1)").c_str()), 0);
    EXPECT_EQ(LastError(), "UNIQUE constraint failed: t.a");
    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);  // nothing left to commit
    EXPECT_EQ(LastError(), "failed");
    // The next update starts a new batch (instead of autocommitting row by row).
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (2)").c_str()), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Count("t"), 0);
    EXPECT_EQ(Orvex_SQLite_Flush(db), 1);
    EXPECT_EQ(other.Value("SELECT group_concat(a) FROM t"), "2");
}

// A COMMIT that another connection's lock holds off is reported and kept for a later try.
TEST(SQLiteBusy, RefusedCommitStaysPendingAndCloseReportsTheLoss) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.File("busy.db");
    auto db = SQLiteDatabase::Create(T(path));
    ASSERT_NE(db, nullptr);
    sqlite3_busy_timeout(db->connection().Raw(), 20);  // instead of 20 s
    ASSERT_TRUE(db->UpdateSync(T("CREATE TABLE t (a INT)")));
    ASSERT_TRUE(db->Update(T("INSERT INTO t VALUES (1)")));

    RawDatabase reader(path);
    reader.Exec("BEGIN; SELECT count(*) FROM t");  // holds a shared lock until COMMIT
    EXPECT_FALSE(db->Flush());
    EXPECT_EQ(LastError(), "database is locked");
    EXPECT_TRUE(db->transactionOpen());
    EXPECT_FALSE(db->UpdateSync(T("INSERT INTO t VALUES (2)")));
    EXPECT_EQ(LastError(), "database is locked");
    reader.Exec("COMMIT");
    EXPECT_TRUE(db->Flush());
    EXPECT_EQ(reader.Count("t"), 1);

    ASSERT_TRUE(db->Update(T("INSERT INTO t VALUES (3)")));
    reader.Exec("BEGIN; SELECT count(*) FROM t");
    EXPECT_FALSE(db->Close());
    EXPECT_EQ(LastError(), "database is locked");
    reader.Exec("COMMIT");
    EXPECT_EQ(reader.Count("t"), 1);
}

TEST_F(SQLiteTest, CloseEndsAnUnfinishedQueryAndReleasesTheFile) {
    Sync("CREATE TABLE t (a INT); INSERT INTO t VALUES (1), (2)");
    ASSERT_EQ(Query("SELECT a FROM t"), 1);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (3)").c_str()), 1);
    EXPECT_EQ(Orvex_SQLite_Close(db), 1);
    EXPECT_EQ(LastError(), "");
    db = nullptr;
    // Nobody holds a lock any more: another connection can take the file exclusively.
    RawDatabase other(path);
    other.Exec("BEGIN EXCLUSIVE; COMMIT");
    EXPECT_EQ(other.Count("t"), 3);
}

TEST_F(SQLiteTest, CompressionLevelAndVersionCalls) {
    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);
    EXPECT_EQ(Orvex_SQLite_SetCompressionLevel(db, 42), 1);  // checked when a blob is stored
    EXPECT_EQ(LastError(), "");

    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);
    OrvexChar* version = Orvex_SQLite_GetSQLiteVersion();
    EXPECT_EQ(LastError(), "failed");  // untouched
    EXPECT_EQ(Take(version), sqlite3_libversion());
}

// The text is one for all threads; each reading is a whole text of some call (and TSan sees
// the lock around it).
TEST(SQLiteLastError, SharedByThreadsAndNeverTorn) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    auto worker = [&folder](const std::string& name) {
        OrvexSQLite* db = Orvex_SQLite_Create(T(folder.File(name)).c_str());
        ASSERT_NE(db, nullptr);
        for (int i = 0; i < 2000; ++i) {
            Orvex_SQLite_Flush(db);                   // "failed"
            Orvex_SQLite_SelectRow(db, -1);           // a longer text
            Orvex_SQLite_SetCompressionLevel(db, 9);  // ""
            const std::string seen = LastError();
            EXPECT_TRUE(seen.empty() || seen == "failed" || seen == "Parameter iRow is less than 0")
                << seen;
        }
        EXPECT_EQ(Orvex_SQLite_Close(db), 1);
    };
    std::thread first(worker, "one.db");
    std::thread second(worker, "two.db");
    first.join();
    second.join();
}

}  // namespace
}  // namespace orvex::sqlite_test
