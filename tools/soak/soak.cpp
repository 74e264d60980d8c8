// Soak run: many jobs through several masters and slaves in one process, with random
// disconnects, checking that every job ends exactly once and that memory stays flat.
//
//   orvex_soak [--jobs N] [--masters M] [--slaves S] [--window W] [--kick-ms K]
//              [--drop-every D] [--seed X]
//
// Each master connects to every slave and keeps up to W jobs in flight, spread at random over
// its slaves: "add" (two integers, their sum back) and "echo" (a memory block of up to 2 KiB,
// the same bytes back). Disconnects come two ways: a chaos thread kicks a random master off a
// random slave every K ms (the master hears of it as event 163 and reconnects), and each master
// drops one of its slaves itself about every D jobs (RemoveSlave, then AddSlave again).
//
// Every job must end exactly once: with a final status (1 finished with the right result, or a
// refusal) or because its master saw the connection go (it removed the slave itself, or the
// slave removed it). A final status that arrives for a job its master had already given up
// (the removal raced with the result) is counted as late, not as an error; a second final
// status, a wrong result or a status for a job nobody sent is an error. The resident size is
// printed at the start, at every tenth of the run and at the end. Exit status 0 when no error
// was found and every job was accounted for.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"
#include "slave/slave.hpp"

// Capacity of a master's job table (master_probe.cpp: the master's and the slave's internal
// headers do not go together in one file).
int32_t JobTableSlots(OrvexMaster* master);

namespace {

using orvex::FromAscii;
using orvex::Text;
using Clock = std::chrono::steady_clock;

struct Options {
    int64_t jobs = 1000000;
    int masters = 4;
    int slaves = 2;
    int window = 64;
    int kickMs = 50;
    int64_t dropEvery = 20000;
    uint32_t seed = 1;
};

int64_t ResidentKiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// ---- Slaves --------------------------------------------------------------------------------

OrvexReturnValue* ORVEX_CALL AddJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList* params,
                                    OrvexReceivedStream*) {
    const int32_t a = Orvex_Parameter_GetInteger(params);
    const int32_t b = Orvex_Parameter_GetInteger(params);
    return Orvex_Return_Integer(
        static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)));
}

OrvexReturnValue* ORVEX_CALL EchoJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList* params,
                                     OrvexReceivedStream*) {
    OrvexParameterElement* element = Orvex_Parameter_GetMem(params);
    if (element == nullptr) return nullptr;
    OrvexReturnValue* result = Orvex_Return_Memory(element->value, element->size);
    Orvex_FreeMemory(element);
    return result;
}

struct SlaveSet {
    std::vector<OrvexSlave*> slaves;
    std::vector<int32_t> ports;

    explicit SlaveSet(int count) {
        const Text none;
        for (int i = 0; i < count; ++i) {
            OrvexSlave* slave = Orvex_Slave_Init(0, 2);
            if (slave == nullptr) {
                std::fprintf(stderr, "soak: slave %d could not listen\n", i + 1);
                std::exit(2);
            }
            Orvex_Slave_LogEvents(slave, 0);
            Orvex_Slave_AddJob(slave, FromAscii("add").c_str(), none.c_str(), AddJob, 0);
            Orvex_Slave_AddJob(slave, FromAscii("echo").c_str(), none.c_str(), EchoJob, 0);
            slaves.push_back(slave);
            ports.push_back(orvex::Slave::FromHandle(slave)->Port());
        }
    }
    ~SlaveSet() {
        for (OrvexSlave* slave : slaves) Orvex_Slave_DeInit(slave);
    }
};

// Kicks a random connected master off a random slave every kickMs until stopped.
class Chaos {
  public:
    Chaos(SlaveSet& set, int kickMs, uint32_t seed) : set_(set), kickMs_(kickMs), random_(seed) {
        if (kickMs_ > 0) thread_ = std::thread([this] { Run(); });
    }
    ~Chaos() { Stop(); }
    void Stop() {
        {
            std::scoped_lock guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    int64_t Kicks() const { return kicks_.load(); }

  private:
    static int32_t ORVEX_CALL Collect(OrvexSlave*, int32_t master, intptr_t userData) {
        reinterpret_cast<std::vector<int32_t>*>(userData)->push_back(master);
        return 1;
    }
    void Run() {
        std::unique_lock guard(lock_);
        while (!wake_.wait_for(guard, std::chrono::milliseconds(kickMs_), [&] { return stop_; })) {
            OrvexSlave* slave = set_.slaves[random_() % set_.slaves.size()];
            std::vector<int32_t> connected;
            Orvex_Slave_IterateMasters(slave, Collect, reinterpret_cast<intptr_t>(&connected));
            if (connected.empty()) continue;
            Orvex_Slave_KickMaster(slave, connected[random_() % connected.size()]);
            kicks_.fetch_add(1);
        }
    }

    SlaveSet& set_;
    const int kickMs_;
    std::mt19937 random_;
    std::mutex lock_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<int64_t> kicks_{0};
    std::thread thread_;
};

// ---- Masters -------------------------------------------------------------------------------

struct Counts {
    int64_t dispatched = 0;  // DoJob returned a job id
    int64_t sendFailed = 0;  // DoJob returned 0 (the connection was going away)
    int64_t finished = 0;    // final status 1 with the right result
    int64_t refused = 0;     // final refusal
    int64_t lost = 0;        // ended by a disconnect the master saw
    int64_t late = 0;        // a final status after the master had given the job up
    int64_t removedEvents = 0;
    int64_t ownDrops = 0;
    int64_t errors = 0;
    int64_t jobTableSlots = 0;  // capacity of the master's job table at the end
};

class SoakMaster {
  public:
    SoakMaster(const SlaveSet& set, const Options& options, int index)
        : set_(set), options_(options), random_(options.seed * 7919 + index) {
        master_ = Orvex_Master_Init([](OrvexMaster*, int32_t, int32_t, const OrvexChar*,
                                       OrvexParameterList*,
                                       OrvexReceivedStream*) -> int32_t { return 0; });
        Orvex_Master_SetCallback(master_, OnMasterEvent, reinterpret_cast<intptr_t>(this));
        {
            std::scoped_lock guard(RegistryLock());
            Registry()[master_] = this;
        }
        for (size_t s = 0; s < set_.ports.size(); ++s) Connect(s);
    }
    ~SoakMaster() {
        Orvex_Master_DeInit(master_);
        std::scoped_lock guard(RegistryLock());
        Registry().erase(master_);
    }

    // Dispatches `jobs` jobs, then waits for the last ones to end.
    void Run(int64_t jobs, std::atomic<int64_t>& progress) {
        for (int64_t n = 0; n < jobs; ++n) {
            ReconnectDropped();
            if (options_.dropEvery > 0 && random_() % options_.dropEvery == 0) DropOne();
            WaitForRoom();
            Dispatch();
            progress.fetch_add(1, std::memory_order_relaxed);
        }
        std::unique_lock guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::seconds(60), [&] { return inFlight_ == 0; })) {
            ++counts_.errors;
            std::map<int32_t, int> openBySlave;
            for (const JobRecord& record : records_) openBySlave[record.slave] += record.open;
            std::fprintf(stderr, "soak: %d jobs never ended; master slaves now:", inFlight_);
            for (int32_t number : current_) std::fprintf(stderr, " %d", number);
            for (const auto& [number, open] : openBySlave) {
                if (open > 0) std::fprintf(stderr, "; %d open on slave %d", open, number);
            }
            std::fprintf(stderr, "; connected in the library:");
            Orvex_Master_IterateSlaves(master_, PrintSlave, 0);
            std::fprintf(stderr, "\n");
        }
    }

    Counts Result() {
        std::scoped_lock guard(lock_);
        Counts counts = counts_;
        counts.jobTableSlots = JobTableSlots(master_);
        return counts;
    }

  private:
    // One job as the master sent it. Records live in a slab and are recycled; a job's
    // callback finds its record through userData = slot index and generation, so a status
    // for a job whose record has been recycled (a second final status) is caught. (Job ids
    // do not identify jobs here: an id is issued again as soon as the final result has been
    // dispatched, which can be before that result's callback has run.)
    struct JobRecord {
        uint32_t generation = 0;
        bool open = false;     // sent, no final status yet, not given up
        bool givenUp = false;  // ended by a disconnect; a late final status may still come
        int32_t slave = 0;
        int kind = 0;  // 0 add, 1 echo
        int32_t expected = 0;
        std::vector<uint8_t> bytes;
    };

    static intptr_t Tag(size_t index, uint32_t generation) {
        return static_cast<intptr_t>((static_cast<uint64_t>(index) << 32) | generation);
    }

    size_t NewRecord() {
        if (free_.empty()) {
            records_.emplace_back();
            return records_.size() - 1;
        }
        const size_t index = free_.back();
        free_.pop_back();
        return index;
    }

    void Recycle(size_t index) {
        JobRecord& record = records_[index];
        ++record.generation;
        record.open = false;
        record.givenUp = false;
        record.bytes.clear();
        free_.push_back(index);
    }

    void Connect(size_t index) {
        const Text host = FromAscii("127.0.0.1");
        const Text none;
        const int32_t number =
            Orvex_Master_AddSlave(master_, host.c_str(), set_.ports[index], none.c_str(), 0,
                                  none.c_str(), none.c_str(), 0, 0);
        std::scoped_lock guard(lock_);
        if (number == 0) {
            ++counts_.errors;
            std::fprintf(stderr, "soak: could not connect to slave %zu\n", index + 1);
            return;
        }
        if (current_.size() <= index) current_.resize(index + 1, 0);
        current_[index] = number;
    }

    // The slaves that removed this master (event 163) are connected again by this thread.
    void ReconnectDropped() {
        std::vector<size_t> dropped;
        {
            std::scoped_lock guard(lock_);
            dropped.swap(dropped_);
        }
        for (size_t index : dropped) Connect(index);
    }

    void DropOne() {
        const size_t index = random_() % set_.ports.size();
        int32_t number = 0;
        {
            std::scoped_lock guard(lock_);
            number = current_[index];
            if (number == 0) return;  // already dropped by its slave
            current_[index] = 0;
            ++counts_.ownDrops;
        }
        Orvex_Master_RemoveSlave(master_, number);
        GiveUp(number, true);
        Connect(index);
    }

    // Every job still open on that slave number ends here: the master saw the connection go.
    // After the slave's removal notice nothing more comes from that connection, so the records
    // are recycled; after the master's own RemoveSlave a result already on its way may still
    // be dispatched, so those records stay (without their data) to tell a late result from an
    // error.
    void GiveUp(int32_t number, bool lateResultsPossible) {
        std::scoped_lock guard(lock_);
        for (size_t index = 0; index < records_.size(); ++index) {
            JobRecord& record = records_[index];
            if (!record.open || record.slave != number) continue;
            ++counts_.lost;
            --inFlight_;
            if (lateResultsPossible) {
                record.open = false;
                record.givenUp = true;
                record.bytes = {};
            } else {
                Recycle(index);
            }
        }
        changed_.notify_all();
    }

    void WaitForRoom() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return inFlight_ < options_.window; });
    }

    void Dispatch() {
        std::scoped_lock guard(lock_);
        const size_t choice = random_() % current_.size();
        const int32_t number =
            current_[choice] != 0 ? current_[choice] : current_[(choice + 1) % current_.size()];
        if (number == 0) {  // every slave dropped this master just now
            ++counts_.sendFailed;
            return;
        }
        const size_t index = NewRecord();
        JobRecord& record = records_[index];
        record.slave = number;
        record.kind = static_cast<int>(random_() % 2);
        OrvexParameterList* params = Orvex_Parameter_New();
        if (record.kind == 0) {
            const auto a = static_cast<int32_t>(random_());
            const auto b = static_cast<int32_t>(random_());
            record.expected =
                static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
            Orvex_Parameter_AddInteger(params, a);
            Orvex_Parameter_AddInteger(params, b);
        } else {
            const auto size = static_cast<int32_t>(1 + random_() % 2048);
            auto* block = static_cast<uint8_t*>(Orvex_AllocateMemory(size));
            record.bytes.resize(static_cast<size_t>(size));
            for (auto& byte : record.bytes) byte = static_cast<uint8_t>(random_());
            std::memcpy(block, record.bytes.data(), record.bytes.size());
            Orvex_Parameter_AddMem(params, block, size);
        }
        // The lock is held across DoJob: the job's callback waits for its record to be open.
        const Text name = FromAscii(record.kind == 0 ? "add" : "echo");
        const int32_t jobId =
            Orvex_Master_DoJob(master_, name.c_str(), number, params, OnJobEvent,
                               Tag(index, record.generation), nullptr, 0, 0, nullptr, 0, 0, 0);
        if (jobId == 0) {
            ++counts_.sendFailed;
            Recycle(index);
            return;
        }
        ++counts_.dispatched;
        // The slave may have removed this master between the choice and DoJob (its notice is
        // being delivered): then the job ends with that connection.
        if (std::find(current_.begin(), current_.end(), number) == current_.end()) {
            ++counts_.lost;
            record.givenUp = true;
            record.bytes = {};
            return;
        }
        record.open = true;
        ++inFlight_;
    }

    static int32_t ORVEX_CALL OnJobEvent(OrvexMaster* master, int32_t slave, int32_t jobId,
                                         int32_t type, void* memory, int32_t memorySize,
                                         intptr_t userData) {
        Of(master).JobEvent(userData, slave, jobId, type, static_cast<const uint8_t*>(memory),
                            memorySize);
        Orvex_FreeMemory(memory);
        return 0;
    }

    static int32_t ORVEX_CALL PrintSlave(OrvexMaster*, int32_t slave, intptr_t) {
        std::fprintf(stderr, " %d", slave);
        return 1;
    }

    // The soak master of a library master (userData carries the job's record).
    static SoakMaster& Of(OrvexMaster* master) {
        std::scoped_lock guard(RegistryLock());
        return *Registry().at(master);
    }
    static std::mutex& RegistryLock() {
        static std::mutex lock;  // guards Registry()
        return lock;
    }
    static std::map<OrvexMaster*, SoakMaster*>& Registry() {
        static std::map<OrvexMaster*, SoakMaster*> registry;
        return registry;
    }

    void JobEvent(intptr_t tag, int32_t slave, int32_t jobId, int32_t type, const uint8_t* memory,
                  int32_t size) {
        const bool final = type == 1 || type == 5 || type == 6 || type == 7 || type == 159;
        std::scoped_lock guard(lock_);
        const auto index = static_cast<size_t>(static_cast<uint64_t>(tag) >> 32);
        const auto generation = static_cast<uint32_t>(static_cast<uint64_t>(tag));
        JobRecord* record = index < records_.size() ? &records_[index] : nullptr;
        if (record == nullptr || record->generation != generation) {
            std::fprintf(stderr, "soak: status %d for job %d on slave %d, which had ended\n", type,
                         jobId, slave);
            ++counts_.errors;
            return;
        }
        if (!final) return;  // queued, started, messages
        if (record->givenUp) {
            ++counts_.late;
            Recycle(index);
            return;
        }
        if (type != 1) {
            ++counts_.refused;
        } else if (CorrectResult(*record, memory, size)) {
            ++counts_.finished;
        } else {
            std::fprintf(stderr, "soak: wrong result for job %d on slave %d\n", jobId, slave);
            ++counts_.errors;
        }
        --inFlight_;
        Recycle(index);
        changed_.notify_all();
    }

    static bool CorrectResult(const JobRecord& record, const uint8_t* memory, int32_t size) {
        if (record.kind == 0) {
            int32_t value = 0;
            if (size != 4 || memory == nullptr) return false;
            std::memcpy(&value, memory, 4);
            return value == record.expected;
        }
        return memory != nullptr && static_cast<size_t>(size) == record.bytes.size() &&
               std::memcmp(memory, record.bytes.data(), record.bytes.size()) == 0;
    }

    static int32_t ORVEX_CALL OnMasterEvent(OrvexMaster*, int32_t slave, int32_t jobId,
                                            int32_t type, void* memory, int32_t,
                                            intptr_t userData) {
        auto* self = reinterpret_cast<SoakMaster*>(userData);
        Orvex_FreeMemory(memory);
        if (type == 163) {
            self->Removed(slave);
        } else if (type != 161 && type != 162) {
            std::fprintf(stderr, "soak: unexpected event %d (slave %d, job %d)\n", type, slave,
                         jobId);
            std::scoped_lock guard(self->lock_);
            ++self->counts_.errors;
        }
        return 0;
    }

    // The slave removed this master: the callbacks of everything it sent before have run.
    void Removed(int32_t number) {
        {
            std::scoped_lock guard(lock_);
            ++counts_.removedEvents;
            const auto it = std::find(current_.begin(), current_.end(), number);
            if (it != current_.end()) {  // else the master had dropped that slave itself
                *it = 0;
                dropped_.push_back(static_cast<size_t>(it - current_.begin()));
            }
        }
        GiveUp(number, false);
    }

    const SlaveSet& set_;
    const Options& options_;
    std::mt19937 random_;  // master thread only
    OrvexMaster* master_ = nullptr;

    std::mutex lock_;  // guards everything below
    std::condition_variable changed_;
    std::vector<int32_t> current_;  // slave index -> current slave number (0: none)
    std::vector<size_t> dropped_;   // removed by their slave, to connect again
    std::deque<JobRecord> records_;
    std::vector<size_t> free_;  // recyclable indexes into records_
    int inFlight_ = 0;
    Counts counts_;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const long long value = std::atoll(argv[i + 1]);
        if (name == "--jobs")
            options.jobs = value;
        else if (name == "--masters")
            options.masters = static_cast<int>(value);
        else if (name == "--slaves")
            options.slaves = static_cast<int>(value);
        else if (name == "--window")
            options.window = static_cast<int>(value);
        else if (name == "--kick-ms")
            options.kickMs = static_cast<int>(value);
        else if (name == "--drop-every")
            options.dropEvery = value;
        else if (name == "--seed")
            options.seed = static_cast<uint32_t>(value);
        else
            return false;
    }
    return argc % 2 == 1 && options.jobs > 0 && options.masters > 0 && options.slaves > 0 &&
           options.window > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: orvex_soak [--jobs N] [--masters M] [--slaves S] [--window W] "
                     "[--kick-ms K] [--drop-every D] [--seed X]\n");
        return 2;
    }
    std::printf(
        "soak: %lld jobs, %d masters, %d slaves, window %d, kick every %d ms, own drop "
        "about every %lld jobs\n",
        static_cast<long long>(options.jobs), options.masters, options.slaves, options.window,
        options.kickMs, static_cast<long long>(options.dropEvery));
    const int64_t startKiB = ResidentKiB();
    std::printf("resident at start: %lld KiB\n", static_cast<long long>(startKiB));

    std::vector<Counts> results;
    int64_t kicks = 0;
    const auto start = Clock::now();
    {
        SlaveSet slaves(options.slaves);
        std::vector<std::unique_ptr<SoakMaster>> masters;
        for (int i = 0; i < options.masters; ++i) {
            masters.push_back(std::make_unique<SoakMaster>(slaves, options, i));
        }
        Chaos chaos(slaves, options.kickMs, options.seed);
        std::atomic<int64_t> progress{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < options.masters; ++i) {
            const int64_t share =
                options.jobs / options.masters + (i < options.jobs % options.masters ? 1 : 0);
            threads.emplace_back(
                [&, i, share] { masters[static_cast<size_t>(i)]->Run(share, progress); });
        }
        for (int tenth = 1; tenth <= 10; ++tenth) {
            const int64_t mark = options.jobs * tenth / 10;
            while (progress.load() < mark)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("  %3d%%  %9lld jobs  %7.1f s  resident %lld KiB\n", tenth * 10,
                        static_cast<long long>(mark), seconds,
                        static_cast<long long>(ResidentKiB()));
            std::fflush(stdout);
        }
        // Every job is out: no more kicks while the masters wait for their last results.
        chaos.Stop();
        for (auto& thread : threads) thread.join();
        kicks = chaos.Kicks();
        for (auto& master : masters) results.push_back(master->Result());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    Counts total;
    for (const Counts& c : results) {
        total.dispatched += c.dispatched;
        total.sendFailed += c.sendFailed;
        total.finished += c.finished;
        total.refused += c.refused;
        total.lost += c.lost;
        total.late += c.late;
        total.removedEvents += c.removedEvents;
        total.ownDrops += c.ownDrops;
        total.errors += c.errors;
        total.jobTableSlots += c.jobTableSlots;
    }
    const int64_t accounted = total.finished + total.refused + total.lost;
    std::printf(
        "dispatched %lld (send failed %lld): finished %lld, refused %lld, lost to a "
        "disconnect %lld (late results %lld)\n",
        static_cast<long long>(total.dispatched), static_cast<long long>(total.sendFailed),
        static_cast<long long>(total.finished), static_cast<long long>(total.refused),
        static_cast<long long>(total.lost), static_cast<long long>(total.late));
    std::printf(
        "disconnects: %lld kicks (%lld removal events seen), %lld dropped by masters; "
        "job table slots of the masters: %lld\n",
        static_cast<long long>(kicks), static_cast<long long>(total.removedEvents),
        static_cast<long long>(total.ownDrops), static_cast<long long>(total.jobTableSlots));
    std::printf("%.1f s, %.0f jobs/s; resident at start %lld KiB, at end %lld KiB\n", seconds,
                static_cast<double>(total.dispatched) / seconds, static_cast<long long>(startKiB),
                static_cast<long long>(ResidentKiB()));
    const bool ok = total.errors == 0 && accounted == total.dispatched;
    std::printf("%s: %lld errors, %lld of %lld dispatched jobs accounted for\n",
                ok ? "PASS" : "FAIL", static_cast<long long>(total.errors),
                static_cast<long long>(accounted), static_cast<long long>(total.dispatched));
    return ok ? 0 : 1;
}
