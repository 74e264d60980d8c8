#include "stats/statistics_log.hpp"

#include <algorithm>
#include <climits>

#include "core/clock.hpp"
#include "slave/slave.hpp"
#include "stats/statistics_statements.hpp"

namespace orvex {

StatisticsLog::StatisticsLog() : thread_([this] { Run(); }) {}

StatisticsLog::~StatisticsLog() {
    Stop();
}

StatisticsLog* StatisticsLog::Find(Slave& slave) {
    return dynamic_cast<StatisticsLog*>(&slave.Statistics());
}

StatisticsLog* StatisticsLog::On(Slave& slave) {
    if (StatisticsLog* log = Find(slave)) return log;
    // Two threads may race here; the first installation wins and the other log is dropped.
    slave.InstallStatistics(std::make_unique<StatisticsLog>());
    return Find(slave);
}

intptr_t StatisticsLog::Use(OpenedStatistics opened, int32_t categories) {
    const intptr_t id = reinterpret_cast<intptr_t>(opened.database.get());
    std::shared_ptr<SQLiteConnection> previous;
    {
        std::scoped_lock guard(queueLock_);
        previous = std::move(database_);
        database_ = std::move(opened.database);
        session_ = opened.session;
    }
    categories_.store(categories);
    // `previous` is closed here unless queued statements or an open transaction still hold it.
    return id;
}

// Called on the slave's threads, which must not fail because of the log: a record that
// cannot be allocated is dropped.
template <typename Build>
void StatisticsLog::Queue(int32_t category, Build build) noexcept {
    if (category != 0 && (categories_.load() & category) == 0) return;
    try {
        std::scoped_lock guard(queueLock_);
        if (!database_) return;
        queue_.Append({database_, build(session_)});
    } catch (...) {
    }
}

// ---- Records ---------------------------------------------------------------------------------

void StatisticsLog::RecordEvent(int32_t type, int32_t master) {
    Queue(kStatsEvents,
          [&](int32_t session) { return EventStatement(session, CalendarTime(), type, master); });
}

void StatisticsLog::RecordJobRegistered(int32_t number, TextView name, TextView description) {
    Queue(kStatsJobs, [&](int32_t session) {
        return JobTableStatement(session, number, ToUtf8(name), ToUtf8(description));
    });
}

void StatisticsLog::RecordJobAccepted(int32_t jobNumber, int32_t master) {
    Queue(kStatsJobs, [&](int32_t session) {
        return JobStatement(session, CalendarTime(), jobNumber, master);
    });
}

void StatisticsLog::RecordError(TextView text) {
    Queue(kStatsJobs, [&](int32_t session) {
        return AppErrorStatement(session, CalendarTime(), ToUtf8(text));
    });
}

void StatisticsLog::RecordMasterConnected(int32_t master, int32_t connectTime, int32_t ip,
                                          int32_t port) {
    Queue(kStatsMasters,
          [&](int32_t session) { return MasterStatement(session, connectTime, master, ip, port); });
    wake_.Signal();
}

void StatisticsLog::RecordMasterClosed(int32_t master, int32_t connectTime) {
    Queue(kStatsMasters,
          [&](int32_t) { return LogOffStatement(CalendarTime(), connectTime, master); });
    wake_.Signal();
}

// Jobs still running at shutdown are counted once: they are among the started ones and
// finish before DeInit returns; only the queued ones, which are discarded, are added.
void StatisticsLog::RecordShutdown(const SlaveRunSummary& summary) {
    const int32_t now = CalendarTime();
    Queue(kStatsMasters, [&](int32_t) { return LogOffAllStatement(now); });
    const int64_t queued = std::max(0, summary.jobsPending - summary.jobsRunning);
    const int64_t total = std::min<int64_t>(INT32_MAX, int64_t{summary.jobsStarted} + queued);
    Queue(0, [&](int32_t session) {
        return SessionStatement({session, summary.startTime, now, summary.masterSlots,
                                 static_cast<int32_t>(total), summary.jobsStarted});
    });
}

void StatisticsLog::BatchEnded() {
    hold_.store(false);
    wake_.Signal();
}

void StatisticsLog::Stop() {
    if (!thread_.joinable()) return;
    stop_.store(true);
    hold_.store(false);
    wake_.Signal();
    thread_.join();
}

// ---- The log's thread ------------------------------------------------------------------------

void StatisticsLog::Run() {
    while (!stop_.load()) {
        wake_.Wait();
        WriteBatch();
    }
    WriteRemaining();
}

// Everything queued, in one transaction; while the hold is set, one statement per wake.
void StatisticsLog::WriteBatch() {
    Statement statement;
    while (Take(statement)) {
        Execute(statement);
        statement = {};
        if (stop_.load()) {
            WriteRemaining();
            return;
        }
        if (hold_.load()) wake_.Wait();
    }
    CommitOpenTransaction();
}

void StatisticsLog::WriteRemaining() {
    Statement statement;
    while (Take(statement)) {
        Execute(statement);
        statement = {};
    }
    CommitOpenTransaction();
}

bool StatisticsLog::Take(Statement& statement) {
    std::scoped_lock guard(queueLock_);
    if (queue_.IsEmpty()) return false;
    statement = queue_.Take();
    return true;
}

// Runs the statement inside the batch's transaction on its own database. The transaction
// is begun lazily, and again when a failure made SQLite roll it back. Out of memory, the
// statement is lost (or not recorded in dberrors) and the thread goes on.
void StatisticsLog::Execute(const Statement& statement) noexcept {
    try {
        SQLiteConnection& database = *statement.database;
        if (transaction_ != statement.database) CommitOpenTransaction();
        if (!database.InTransaction()) ExecLogged(database, std::string(kBeginStatement));
        transaction_ = statement.database;
        ExecLogged(database, statement.sql);
    } catch (...) {
    }
}

void StatisticsLog::CommitOpenTransaction() noexcept {
    if (!transaction_) return;
    try {
        if (transaction_->InTransaction()) {
            ExecLogged(*transaction_, std::string(kCommitStatement));
        }
    } catch (...) {
    }
    transaction_.reset();
}

}  // namespace orvex
