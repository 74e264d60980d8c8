// Queries to one slave: ping, job count, worker count and job list.
//
// A query sends its 8-byte message and blocks until the dispatch has stored the reply in the
// slot and raised replySignal. The wait is bounded by the stream time-out (default 5000 ms):
// a slave that never answers makes the query fail with "...(): timeout reached" instead of
// blocking its caller, and through queryLock every later query to that slave, for ever. A
// query to a slot without a connection sends nothing and fails at once like a send failure.
#include <algorithm>
#include <functional>

#include "core/clock.hpp"
#include "master/master.hpp"
#include "protocol/messages.hpp"

namespace orvex {
namespace {

constexpr int32_t kDefaultQueryWaitMs = 5000;

}  // namespace

Master::QueryOutcome Master::Ask(SlaveSlot& slot, std::span<const uint8_t> query,
                                 const std::function<bool(const SlaveSlot&)>& isAnswer) {
    {
        std::scoped_lock guard(slot.replyLock);
        slot.queryWaiting = true;
        slot.queryFailed = false;
        while (slot.replySignal.TryWait()) {
        }
    }
    QueryOutcome outcome;
    outcome.sent = SendToSlave(slot, query) > 0;
    const int32_t timeout = streamTimeout_.load() > 0 ? streamTimeout_.load() : kDefaultQueryWaitMs;
    const int32_t start = Milliseconds();
    while (outcome.sent && !slot.peerClosed.load() && !stopping_.load()) {
        const int32_t left = timeout - ElapsedMs(start, Milliseconds());
        if (left <= 0 || !slot.replySignal.WaitFor(left)) break;
        std::scoped_lock guard(slot.replyLock);
        if (slot.queryFailed) break;
        if (!isAnswer || isAnswer(slot)) {
            outcome.replied = true;
            break;
        }
        // A late answer to an earlier query that gave up: wait on for ours.
    }
    std::scoped_lock guard(slot.replyLock);
    slot.queryWaiting = false;
    outcome.failed = slot.queryFailed || slot.peerClosed.load() || stopping_.load();
    return outcome;
}

namespace {

// The failure texts of a query that got no answer; false when a reply (or a receive failure,
// after which the stored reply stands) ended the wait.
bool Unanswered(Master& master, const char* function, const Master::QueryOutcome& outcome) {
    if (!outcome.sent) {
        master.SetError(function, "error while sending");
        return true;
    }
    if (!outcome.replied && !outcome.failed) {
        master.SetError(function, "timeout reached");
        return true;
    }
    return false;
}

}  // namespace

SlaveSlot* Master::QuerySlot(int32_t slave, const char* function) {
    SlaveSlot* slot = SlotAt(slave);
    if (slot == nullptr) SetError(function, "invalid slave number");
    return slot;
}

int32_t Master::PingSlave(int32_t slave) {
    constexpr const char* kFunction = "Orvex_Master_PingSlave";
    SlaveSlot* slot = QuerySlot(slave, kFunction);
    if (slot == nullptr) return -1;
    std::scoped_lock queryGuard(slot->queryLock);
    const int32_t stamp = Milliseconds();
    const auto query = protocol::BuildPing(stamp);
    const QueryOutcome outcome =
        Ask(*slot, query, [stamp](const SlaveSlot& s) { return s.pingEcho == stamp; });
    if (Unanswered(*this, kFunction, outcome)) return -1;
    // Only the echo of this ping measures anything; a receive failure leaves none.
    if (!outcome.replied) return -1;
    return ElapsedMs(stamp, Milliseconds()) / 2;
}

int32_t Master::CountSlaveJobs(int32_t slave) {
    constexpr const char* kFunction = "Orvex_Master_CountSlaveJobs";
    SlaveSlot* slot = QuerySlot(slave, kFunction);
    if (slot == nullptr) return -1;
    std::scoped_lock queryGuard(slot->queryLock);
    const auto query = protocol::BuildQuery(protocol::kCmdJobCountQuery);
    if (Unanswered(*this, kFunction, Ask(*slot, query))) return -1;
    std::scoped_lock guard(slot->replyLock);
    return slot->jobCountReply;
}

int32_t Master::CountSlaveWorkers(int32_t slave) {
    constexpr const char* kFunction = "Orvex_Master_CountSlaveWorkers";
    SlaveSlot* slot = QuerySlot(slave, kFunction);
    if (slot == nullptr) return -1;
    std::scoped_lock queryGuard(slot->queryLock);
    {
        std::scoped_lock guard(slot->replyLock);
        if (slot->workerCountReply != 0) return slot->workerCountReply;
    }
    const auto query = protocol::BuildQuery(protocol::kCmdWorkerCountQuery);
    if (Unanswered(*this, kFunction, Ask(*slot, query))) return -1;
    std::scoped_lock guard(slot->replyLock);
    return slot->workerCountReply;
}

Char* Master::GetSlaveJobInfos(int32_t slave, bool refresh) {
    constexpr const char* kFunction = "Orvex_Master_GetSlaveJobInfos";
    SlaveSlot* slot = QuerySlot(slave, kFunction);
    if (slot == nullptr) return nullptr;
    std::scoped_lock queryGuard(slot->queryLock);
    if (!refresh) {
        std::scoped_lock guard(slot->replyLock);
        if (!slot->jobInfosText.empty()) return CopyToBlock(slot->jobInfosText);
    }
    const auto query = protocol::BuildQuery(protocol::kCmdJobListQuery);
    if (Unanswered(*this, kFunction, Ask(*slot, query))) return nullptr;
    std::scoped_lock guard(slot->replyLock);
    return CopyToBlock(slot->jobInfosText);
}

}  // namespace orvex
