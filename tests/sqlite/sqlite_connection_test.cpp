// The plain connection helpers that the slave's statistics log builds on: running SQL text,
// getting SQLite's message for a failed statement, and carrying values with quotes.
#include "sqlite/sqlite_connection.hpp"
#include "sqlite/sqlite_test_support.hpp"

namespace orvex::sqlite_test {
namespace {

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        path = folder.File("stats.db");
        connection = SQLiteConnection::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
        ASSERT_NE(connection, nullptr);
        ASSERT_EQ(connection->Exec("CREATE TABLE dberrors (time INT, query TEXT, description TEXT);"
                                   "CREATE TABLE jobtable (session INT, id INT, name TEXT)"),
                  std::nullopt);
    }
    TempFolder folder;
    std::string path;
    std::unique_ptr<SQLiteConnection> connection;
};

TEST_F(ConnectionTest, OpenWithoutCreateFlagNeverMakesAFile) {
    std::string error;
    EXPECT_EQ(SQLiteConnection::Open(folder.File("none.db"), SQLITE_OPEN_READWRITE, 0, &error),
              nullptr);
    EXPECT_EQ(error, "unable to open database file");
    EXPECT_FALSE(std::filesystem::exists(folder.File("none.db")));
}

// A failed statement is recorded with its exact text and SQLite's message, the way the
// statistics log keeps its dberrors rows; the statement's own quotes travel as data.
TEST_F(ConnectionTest, FailedStatementIsRecordedWithItsTextAndMessage) {
    const std::string failing = "INSERT INTO gone (name) VALUES ('it''s ''quoted''')";
    const std::optional<std::string> message = connection->Exec(failing);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, "no such table: gone");

    const SQLiteValue bound[] = {int64_t{1700000000}, failing, *message};
    EXPECT_EQ(connection->ExecBound(
                  "INSERT INTO dberrors (time, query, description) VALUES (?, ?, ?)", bound),
              std::nullopt);
    // The same row as one SQL text, its values between quotes with the quotes doubled.
    EXPECT_EQ(connection->Exec("INSERT INTO dberrors (time, query, description) VALUES ('1', '" +
                               DoubleQuotes(failing) + "', '" + DoubleQuotes(*message) + "')"),
              std::nullopt);

    RawDatabase raw(path);
    const auto rows = raw.Rows("SELECT typeof(time), query, description FROM dberrors");
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        EXPECT_EQ(*row[0], "integer");
        EXPECT_EQ(*row[1], failing);
        EXPECT_EQ(*row[2], "no such table: gone");
    }
}

TEST_F(ConnectionTest, ValuesCannotEndOrExtendTheirStatement) {
    const std::string hostile = "x'); DROP TABLE jobtable; --";
    const SQLiteValue bound[] = {int64_t{1}, int64_t{2}, hostile};
    EXPECT_EQ(connection->ExecBound("INSERT INTO jobtable VALUES (?, ?, ?)", bound), std::nullopt);
    EXPECT_EQ(
        connection->Exec("INSERT INTO jobtable VALUES ('1', '3', '" + DoubleQuotes(hostile) + "')"),
        std::nullopt);
    const SQLiteValue key[] = {hostile};
    const auto count = connection->QueryValue("SELECT count(*) FROM jobtable WHERE name = ?", key);
    ASSERT_TRUE(count.has_value());
    EXPECT_EQ(std::get<int64_t>(*count), 2);

    // More values than parameters is refused, not silently dropped.
    const SQLiteValue tooMany[] = {int64_t{1}, int64_t{2}, hostile, hostile};
    EXPECT_EQ(connection->ExecBound("INSERT INTO jobtable VALUES (?, ?, ?)", tooMany),
              "column index out of range");
    EXPECT_EQ(connection->ExecBound("INSERT INTO jobtable VALUES (?, ?)", bound),
              "table jobtable has 3 columns but 2 values were supplied");
}

TEST_F(ConnectionTest, QueryValueReadsTheFirstColumnOfTheFirstRow) {
    const SQLiteValue table[] = {std::string("jobtable")};
    const auto name =
        connection->QueryValue("SELECT name FROM sqlite_master WHERE name = ?", table);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(std::get<std::string>(*name), "jobtable");
    EXPECT_EQ(connection->QueryValue("SELECT name FROM sqlite_master WHERE name = 'nope'"),
              std::nullopt);
    EXPECT_EQ(connection->QueryValue("SELECT broken FROM"), std::nullopt);
    const auto null = connection->QueryValue("SELECT NULL");
    ASSERT_TRUE(null.has_value());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(*null));
}

TEST_F(ConnectionTest, TracksTransactionsAndCloses) {
    EXPECT_FALSE(connection->InTransaction());
    EXPECT_EQ(connection->Exec("BEGIN Transaction"), std::nullopt);
    EXPECT_TRUE(connection->InTransaction());
    EXPECT_EQ(connection->Exec("COMMIT"), std::nullopt);
    EXPECT_FALSE(connection->InTransaction());
    EXPECT_EQ(connection->Close(), SQLITE_OK);
    EXPECT_EQ(connection->Raw(), nullptr);
    EXPECT_EQ(connection->Close(), SQLITE_OK);
}

}  // namespace
}  // namespace orvex::sqlite_test
