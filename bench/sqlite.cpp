// Batched updates of the storage layer against one autocommit transaction per row.
//
// Both write single-row INSERTs into a fresh database file in a temporary folder. The batched
// run sends 100,000 rows through Orvex_SQLite_Update (one transaction, committed by Flush).
// The autocommit run gives each row its own sqlite3_exec, so each row is its own transaction
// with its own journal and sync; it is measured on 2,000 rows (items_per_second compares the
// two, on wall-clock time; scaled_100k_s is its time in seconds scaled to 100,000 rows).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"

namespace {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "orvex-bench-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string InsertOf(int64_t row) {
    return "INSERT INTO t (id, name) VALUES (" + std::to_string(row) + ", 'row " +
           std::to_string(row) + "')";
}

constexpr char kSchema[] = "CREATE TABLE t (id INT, name TEXT)";

void BM_UpdateBatched(benchmark::State& state) {
    const int64_t rows = state.range(0);
    std::vector<orvex::Text> inserts;
    inserts.reserve(rows);
    for (int64_t i = 0; i < rows; ++i) inserts.push_back(orvex::FromUtf8(InsertOf(i)));
    for (auto _ : state) {
        state.PauseTiming();
        TempFolder folder;
        OrvexSQLite* db = Orvex_SQLite_Create(orvex::FromUtf8(folder.File("batched.db")).c_str());
        Orvex_SQLite_UpdateSync(db, orvex::FromUtf8(kSchema).c_str());
        state.ResumeTiming();
        for (const orvex::Text& insert : inserts) {
            if (Orvex_SQLite_Update(db, insert.c_str()) != 1) state.SkipWithError("update failed");
        }
        if (Orvex_SQLite_Flush(db) != 1) state.SkipWithError("flush failed");
        state.PauseTiming();
        Orvex_SQLite_Close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_UpdateBatched)
    ->Arg(100000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_AutocommitExec(benchmark::State& state) {
    const int64_t rows = state.range(0);
    double seconds = 0;
    std::vector<std::string> inserts;
    for (int64_t i = 0; i < rows; ++i) inserts.push_back(InsertOf(i));
    for (auto _ : state) {
        state.PauseTiming();
        TempFolder folder;
        sqlite3* db = nullptr;
        sqlite3_open(folder.File("autocommit.db").c_str(), &db);
        sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& insert : inserts) {
            if (sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                state.SkipWithError("exec failed");
            }
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["scaled_100k_s"] =
        seconds / static_cast<double>(state.iterations()) * 100000.0 / static_cast<double>(rows);
}
BENCHMARK(BM_AutocommitExec)
    ->Arg(2000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
