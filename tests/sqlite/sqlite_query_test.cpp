// The query of a handle: preparing and ending it, the row cursor, running a statement with
// bound values, and column metadata.
#include <functional>

#include "sqlite/sqlite_test_support.hpp"

namespace orvex::sqlite_test {
namespace {

class QueryTest : public SQLiteTest {
  protected:
    void SetUp() override {
        SQLiteTest::SetUp();
        Sync(
            "CREATE TABLE t (id INT, name TEXT); "
            "INSERT INTO t VALUES (10, 'a'), (20, 'b'), (30, 'c')");
    }
    // Selects the row and returns its first column, or -1 with the row not selected.
    int32_t Row(int32_t row) {
        return Orvex_SQLite_SelectRow(db, row) == 1 ? Orvex_SQLite_GetAsLong(db, 0) : -1;
    }
};

TEST_F(QueryTest, CursorWalksForwardAndRewindsBackward) {
    ASSERT_EQ(Query("SELECT id FROM t ORDER BY id"), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Row(0), 10);
    EXPECT_EQ(Row(1), 20);
    EXPECT_EQ(Row(2), 30);
    EXPECT_EQ(Row(3), -1);
    EXPECT_EQ(LastError(), "Can not set next line");
    EXPECT_EQ(Orvex_SQLite_GetAsLong(db, 0), 0);  // off any row now
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Row(1), 20);
    EXPECT_EQ(Row(2), 30);
    EXPECT_EQ(Row(1), 20);  // backwards: re-run up to row 1
    EXPECT_EQ(Row(0), 10);
    EXPECT_EQ(Row(5), -1);
    EXPECT_EQ(LastError(), "Can not set next line");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    EXPECT_EQ(LastError(), "");
}

TEST_F(QueryTest, SameRowIsNotReRunButAnEarlierOneIs) {
    // random() gives each run of the statement new values.
    ASSERT_EQ(Query("SELECT random() FROM t"), 1);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    const int64_t first = Orvex_SQLite_GetAsQuad(db, 0);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsQuad(db, 0), first);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 1), 1);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_NE(Orvex_SQLite_GetAsQuad(db, 0), first);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, CallsOutOfOrderFailWithTheirTexts) {
    OrvexChar* text = nullptr;
    const struct {
        const char* name;
        std::function<int64_t()> call;
        const char* error;
    } cases[] = {
        {"SelectRow -1", [&] { return Orvex_SQLite_SelectRow(db, -1); },
         "Parameter iRow is less than 0"},
        {"SelectRow 0", [&] { return Orvex_SQLite_SelectRow(db, 0); },
         "Orvex_SQLite_Query was not called before"},
        {"EndQuery", [&] { return Orvex_SQLite_EndQuery(db); },
         "Orvex_SQLite_Query was not called before"},
        {"GetNumColumns", [&] { return Orvex_SQLite_GetNumColumns(db); },
         "Orvex_SQLite_Query was not called before"},
        {"GetAsQuad", [&] { return Orvex_SQLite_GetAsQuad(db, 0); },
         "Orvex_SQLite_Query was not called before"},
        {"GetColumnName",
         [&] {
             text = Orvex_SQLite_GetColumnName(db, 0);
             return static_cast<int64_t>(TextLength(text));
         },
         "Orvex_SQLite_Query was not called before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(LastError(), c.error);
    }
    EXPECT_EQ(Take(text), "");  // failing text getters still hand out a block

    // Prepared but on no row yet.
    ASSERT_EQ(Query("SELECT id FROM t"), 1);
    EXPECT_EQ(Orvex_SQLite_GetNumColumns(db), 0);
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Orvex_SQLite_SelectRow(db, -1), 0);
    EXPECT_EQ(LastError(), "Parameter iRow is less than 0");
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetNumColumns(db), 1);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);

    ASSERT_EQ(Query("SELECT id FROM t WHERE id > 99"), 1);
    EXPECT_EQ(Orvex_SQLite_SelectRow(db, 0), 0);
    EXPECT_EQ(LastError(), "Can not reset to first line");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, SecondQueryIsRefusedButStillCommitsTheBatch) {
    ASSERT_EQ(Query("SELECT id FROM t"), 1);
    ASSERT_EQ(Orvex_SQLite_Update(db, T("INSERT INTO t VALUES (40, 'd')").c_str()), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Count("t"), 3);
    EXPECT_EQ(Query("SELECT name FROM t"), 0);
    EXPECT_EQ(LastError(),
              "Orvex_SQLite_Query already called; Orvex_SQLite_EndQuery must be called first.");
    EXPECT_EQ(other.Count("t"), 4);
    EXPECT_EQ(Orvex_SQLite_Flush(db), 0);
    EXPECT_EQ(Row(0), 10);  // the first query is untouched
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, BadTextsPrepareNothingOrOnlyTheFirstStatement) {
    EXPECT_EQ(Query("SELEC id FROM t"), 0);
    EXPECT_EQ(LastError(), "near \"SELEC\": syntax error");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 0);
    EXPECT_EQ(LastError(), "Orvex_SQLite_Query was not called before");

    ASSERT_EQ(Query("SELECT count(*) FROM t; INSERT INTO t VALUES (50, 'e')"), 1);
    EXPECT_EQ(Row(0), 3);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Count("t"), 3);

    // A text without any statement gives a query without statement; ending it frees the
    // handle for the next query.
    for (const char* empty : std::initializer_list<const char*>{"", " -- a comment", nullptr}) {
        SCOPED_TRACE(empty != nullptr ? empty : "null");
        ASSERT_EQ(Orvex_SQLite_Query(db, empty != nullptr ? T(empty).c_str() : nullptr), 1);
        EXPECT_EQ(Orvex_SQLite_SelectRow(db, 0), 0);
        EXPECT_EQ(LastError(), "failed");
        EXPECT_EQ(Orvex_SQLite_StoreAsLong(db, 0, 1), 0);
        EXPECT_EQ(Orvex_SQLite_StoreRow(db), 0);
        EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
        EXPECT_EQ(LastError(), "");
    }
    ASSERT_EQ(Query("SELECT id FROM t"), 1);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, AStepThatFailsIsNotARow) {
    // The overflow depends on a column, so SQLite meets it at the fourth step, not before.
    ASSERT_EQ(Query("SELECT id FROM t UNION ALL "
                    "SELECT abs(id * 0 - 9223372036854775807 - 1) FROM t WHERE id = 10"),
              1);
    EXPECT_EQ(Row(2), 30);
    EXPECT_EQ(Row(3), -1);
    EXPECT_EQ(LastError(), "integer overflow");
    EXPECT_EQ(Row(0), 10);  // the query can be read again
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, StoreRowRunsTheStatementWithBoundValuesKeptBetweenRows) {
    Sync("CREATE TABLE u (k INT UNIQUE, v TEXT)");
    ASSERT_EQ(Query("INSERT INTO u (k, v) VALUES (?, ?)"), 1);
    ASSERT_EQ(Orvex_SQLite_StoreAsString(db, 1, T("same").c_str()), 1);
    for (int32_t k = 1; k <= 3; ++k) {
        ASSERT_EQ(Orvex_SQLite_StoreAsLong(db, 0, k), 1);
        ASSERT_EQ(Orvex_SQLite_StoreRow(db), 1) << LastError();
        EXPECT_EQ(LastError(), "");
    }
    EXPECT_EQ(Orvex_SQLite_StoreRow(db), 0);  // k = 3 again
    EXPECT_EQ(LastError(), "failed");
    ASSERT_EQ(Orvex_SQLite_StoreAsLong(db, 0, 4), 1);  // the statement takes values again
    EXPECT_EQ(Orvex_SQLite_StoreRow(db), 1);
    EXPECT_EQ(Orvex_SQLite_StoreAsLong(db, 2, 0), 0);  // no third parameter
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Orvex_SQLite_StoreAsLong(db, -1, 0), 0);
    EXPECT_EQ(Orvex_SQLite_StoreAsLong(db, INT32_MAX, 0), 0);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
    RawDatabase other(path);
    EXPECT_EQ(other.Value("SELECT group_concat(k || v, ',') FROM u"), "1same,2same,3same,4same");

    // Run on a reading query, StoreRow moves the statement: the row is no longer selected.
    ASSERT_EQ(Query("SELECT id FROM t WHERE id = 10"), 1);
    ASSERT_EQ(Row(0), 10);
    EXPECT_EQ(Orvex_SQLite_StoreRow(db), 1);
    EXPECT_EQ(Orvex_SQLite_GetAsLong(db, 0), 0);
    EXPECT_EQ(LastError(), "failed");
    EXPECT_EQ(Row(0), 10);
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

TEST_F(QueryTest, ColumnNamesAndDeclaredTypes) {
    ASSERT_EQ(Query("SELECT id, name AS \"na\xC3\xAFve\", id + 1 FROM t"), 1);
    ASSERT_EQ(Orvex_SQLite_SelectRow(db, 0), 1);
    EXPECT_EQ(Orvex_SQLite_GetNumColumns(db), 3);
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnName(db, 0)), "id");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnName(db, 1)), "na\xC3\xAFve");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnTypeAsString(db, 0)), "INT");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnTypeAsString(db, 1)), "TEXT");
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnTypeAsString(db, 2)), "");
    EXPECT_EQ(LastError(), "Null pointer");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnName(db, 3)), "");
    EXPECT_EQ(LastError(), "Orvex_SQLite_GetColumnName error: Null pointer");
    EXPECT_EQ(Take(Orvex_SQLite_GetColumnTypeAsString(db, -1)), "");
    EXPECT_EQ(LastError(), "Null pointer");
    EXPECT_EQ(Orvex_SQLite_EndQuery(db), 1);
}

}  // namespace
}  // namespace orvex::sqlite_test
