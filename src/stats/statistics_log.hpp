// The slave's statistics log: a SQLite database of the slave's sessions, masters, jobs,
// events and errors, written by a thread of its own.
//
// Design notes.
// - The slave's threads never write to the database. Each record becomes one SQL text that
//   is appended to the statement queue together with the database it belongs to (the one
//   that was the log's database when the record was made). Statements of a file therefore
//   land in that file under that file's session number even when the application switches
//   files while they wait; a file that is replaced is closed once its last queued statement
//   has run.
// - The log's thread sleeps on its wake semaphore, which the end of every receive batch,
//   every connect and close of a master and the stop signal. Woken, it writes what is queued
//   inside one transaction. While a receive batch runs (the hold is set) it writes one
//   statement per wake and waits for the next, leaving the processor and the disk to the
//   receive path; the batch's end clears the hold, and the rest follows in the same
//   transaction.
// - A statement that fails leaves a dberrors row with its exact text and SQLite's message.
// - Stop writes everything still queued in one transaction and ends the thread.
//
// Lock: queueLock_ guards the queue, the current database and its session number; it is
// held only to read or swap those and to append or take one statement, never while a
// statement runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/fifo_list.hpp"
#include "core/sync.hpp"
#include "slave/statistics_hook.hpp"
#include "sqlite/sqlite_connection.hpp"
#include "stats/statistics_database.hpp"

namespace orvex {

class Slave;

class StatisticsLog final : public SlaveStatisticsHook {
  public:
    // Starts the log's thread; no database is open and nothing is recorded yet.
    StatisticsLog();
    // Stops the thread (see Stop), drops what is left in the queue and closes the databases.
    ~StatisticsLog() override;
    StatisticsLog(const StatisticsLog&) = delete;
    StatisticsLog& operator=(const StatisticsLog&) = delete;

    // The log installed on `slave`, installing a new one when the slave has none; null when
    // the slave carries another kind of statistics hook.
    static StatisticsLog* On(Slave& slave);
    // The log installed on `slave`, or null.
    static StatisticsLog* Find(Slave& slave);

    // Makes `opened` the log's database (the previous one is closed once its queued
    // statements have run) and records `categories`. Returns the value that identifies the
    // database for the application.
    intptr_t Use(OpenedStatistics opened, int32_t categories);
    // Changes the categories only; 0 pauses the recording and keeps the database open.
    void SetCategories(int32_t categories) { categories_.store(categories); }

    void RecordEvent(int32_t type, int32_t master) override;
    void RecordJobRegistered(int32_t number, TextView name, TextView description) override;
    void RecordJobAccepted(int32_t jobNumber, int32_t master) override;
    void RecordError(TextView text) override;
    void RecordMasterConnected(int32_t master, int32_t connectTime, int32_t ip,
                               int32_t port) override;
    void RecordMasterClosed(int32_t master, int32_t connectTime) override;
    void RecordShutdown(const SlaveRunSummary& summary) override;
    void BatchStarted() override { hold_.store(true); }
    void BatchEnded() override;
    void Stop() override;

  private:
    struct Statement {
        std::shared_ptr<SQLiteConnection> database;
        std::string sql;
    };

    // Appends build(session) for the current database when one is open and `category` is
    // recorded (0: in every case).
    template <typename Build>
    void Queue(int32_t category, Build build) noexcept;

    // The log's thread.
    void Run();
    void WriteBatch();
    void WriteRemaining();
    bool Take(Statement& statement);
    void Execute(const Statement& statement) noexcept;
    void CommitOpenTransaction() noexcept;

    std::atomic<int32_t> categories_{0};

    std::mutex queueLock_;  // guards queue_, database_ and session_
    FifoList<Statement> queue_;
    std::shared_ptr<SQLiteConnection> database_;
    int32_t session_ = 0;

    Semaphore wake_;
    std::atomic<bool> hold_{false};
    std::atomic<bool> stop_{false};
    // The log's thread only: the connection whose transaction it began and has not yet
    // committed.
    std::shared_ptr<SQLiteConnection> transaction_;

    std::thread thread_;  // last: started once everything above exists
};

}  // namespace orvex
