// Master benchmarks against an in-process slave over 127.0.0.1, with raw-socket baselines
// measured in the same run:
//   RawPingPong         16-byte request / 16-byte answer over a loopback pair (p50, p99)
//   RawStopAndWait      256 KiB blocks, the receiver checks each block's CRC-32 before it
//                       sends a 16-byte acknowledgement (MB/s); CRC-32 as the library
//                       computes it (carry-less multiplication where the processor has it)
//   RawStopAndWaitPlainCrc  the same with zlib's plain table crc32 on both sides
//   JobRoundTrip        Orvex_Master_DoJob -> result callback of a trivial job (p50, p99,
//                       and p50 as a multiple of the raw ping-pong p50)
//   JobsInFlight        1000 jobs in flight from one master to one slave with 4 workers
//   Stream64MiB         a 64 MiB stream to a job with the default 256 KiB blocks (MB/s, and
//                       the shares of both raw stop-and-wait rates)
//   Stream64MiBToRawReceiver  the same against a raw receiver that checks and acknowledges
//                       each block without keeping it (the master's own share of the cost)
//   IdleMaster          a master with 8 connected slaves (in a child process) for 5 s: CPU
//                       time of the master's process as a share of one core
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "Orvex.h"
#include "core/crc32.hpp"
#include "core/text.hpp"
#include "slave/slave.hpp"
#include "support/loopback.hpp"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;

// Figures of the raw baselines, for the ratios of the library benchmarks.
// Baselines per placement: [0] wherever the scheduler puts the threads, [1] across CPUs (the
// client side on CPU 0, the server side on CPU 1), the condition of the reference figures.
double g_rawPingPongP50Us[2] = {0, 0};
double g_rawStopAndWaitMBps[2] = {0, 0};       // with the library's accelerated CRC-32
double g_rawStopAndWaitPlainMBps[2] = {0, 0};  // with zlib's plain crc32

// Pins the calling thread, and the threads it creates afterwards, to one CPU.
void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

void Unpin() {
    cpu_set_t set;
    CPU_ZERO(&set);
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    for (long c = 0; c < count && c < CPU_SETSIZE; ++c) CPU_SET(static_cast<int>(c), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Runs `makeServerSide` with the server side's placement and leaves the caller on the client
// side's CPU (across) or unpinned.
template <typename F>
void Place(bool across, F makeServerSide) {
    if (across) PinTo(1);
    makeServerSide();
    if (across) PinTo(0);
}

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
    return samples[index];
}

// A transfer rate as shares of both raw stop-and-wait rates.
void ReportShares(benchmark::State& state, double rate, int across = 0) {
    if (g_rawStopAndWaitMBps[across] > 0) {
        state.counters["share_of_raw"] = rate / g_rawStopAndWaitMBps[across];
    }
    if (g_rawStopAndWaitPlainMBps[across] > 0) {
        state.counters["share_of_raw_plain_crc"] = rate / g_rawStopAndWaitPlainMBps[across];
    }
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Reads exactly n bytes, blocking on poll.
bool ReadAll(net::Handle handle, uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        const int32_t r = net::ReadWait(handle, out + got, static_cast<int32_t>(n - got), 1000);
        if (r == net::kClosed) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

void BM_RawPingPong(benchmark::State& state) {
    const int across = static_cast<int>(state.range(0));
    test::LoopbackPair pair;
    std::atomic<bool> stop{false};
    std::thread echo;
    Place(across, [&] {
        echo = std::thread([&] {
            uint8_t packet[16];
            while (!stop.load()) {
                if (!ReadAll(pair.server, packet, sizeof packet)) return;
                test::WriteAll(pair.server, packet);
            }
        });
    });
    std::vector<double> samples;
    uint8_t packet[16] = {};
    for (auto _ : state) {
        const auto start = Clock::now();
        test::WriteAll(pair.client, packet);
        ReadAll(pair.client, packet, sizeof packet);
        samples.push_back(Micros(Clock::now() - start));
    }
    stop = true;
    test::WriteAll(pair.client, packet);
    echo.join();
    Unpin();
    g_rawPingPongP50Us[across] = Percentile(samples, 0.5);
    state.counters["p50_us"] = g_rawPingPongP50Us[across];
    state.counters["p99_us"] = Percentile(samples, 0.99);
}
BENCHMARK(BM_RawPingPong)->ArgName("across")->Arg(0)->Arg(1)->Iterations(20000)->UseRealTime();

constexpr size_t kBlock = 256 * 1024;

// The raw transfer with the given CRC-32 function on both sides.
using CrcFunction = uint32_t (*)(const uint8_t* data, size_t length);

uint32_t AcceleratedCrc(const uint8_t* data, size_t length) {
    return Crc32(data, length);
}

uint32_t PlainCrc(const uint8_t* data, size_t length) {
    return static_cast<uint32_t>(crc32_z(0, data, length));
}

double RawStopAndWait(benchmark::State& state, CrcFunction crcOf) {
    const bool across = state.range(0) != 0;
    test::LoopbackPair pair;
    std::thread receiver;
    Place(across, [&] { receiver = std::thread([&] {
        std::vector<uint8_t> block(16 + kBlock);
        uint8_t ack[16] = {};
        for (;;) {
            if (!ReadAll(pair.server, block.data(), block.size())) return;
            uint32_t crc;
            std::memcpy(&crc, block.data() + 12, 4);
            ack[8] = crcOf(block.data() + 16, kBlock) == crc ? 1 : 0;
            test::WriteAll(pair.server, ack);
        }
    }); });
    std::vector<uint8_t> block(16 + kBlock);
    for (size_t i = 16; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    const uint32_t crc = crcOf(block.data() + 16, kBlock);
    std::memcpy(block.data() + 12, &crc, 4);
    uint8_t ack[16];
    const auto start = Clock::now();
    for (auto _ : state) {
        test::WriteAll(pair.client, block);
        ReadAll(pair.client, ack, sizeof ack);
        if (ack[8] != 1) state.SkipWithError("CRC mismatch");
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(state.iterations() * kBlock) / seconds / 1e6;
    state.counters["MB_per_s"] = rate;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
    net::Shutdown(pair.client);
    receiver.join();
    Unpin();
    return rate;
}

void BM_RawStopAndWait(benchmark::State& state) {
    g_rawStopAndWaitMBps[state.range(0)] = RawStopAndWait(state, &AcceleratedCrc);
}
BENCHMARK(BM_RawStopAndWait)->ArgName("across")->Arg(0)->Arg(1)->Iterations(1024)->UseRealTime();

// The same with zlib's plain table CRC-32 on both sides, as a transfer without the
// carry-less-multiplication CRC would run.
void BM_RawStopAndWaitPlainCrc(benchmark::State& state) {
    g_rawStopAndWaitPlainMBps[state.range(0)] = RawStopAndWait(state, &PlainCrc);
}
BENCHMARK(BM_RawStopAndWaitPlainCrc)->ArgName("across")->Arg(0)->Arg(1)->Iterations(1024)->UseRealTime();

// ---- Library benchmarks ------------------------------------------------------------------

OrvexReturnValue* ORVEX_CALL Nop(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                 OrvexReceivedStream*) {
    return Orvex_Return_Integer(1);
}

OrvexReturnValue* ORVEX_CALL Drain(OrvexSlave* slave, int32_t, int32_t, OrvexParameterList*,
                                   OrvexReceivedStream* stream) {
    if (stream == nullptr) return nullptr;
    std::atomic_ref<int32_t> streamState(stream->state);
    while (streamState.load() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int32_t result = streamState.load();
    Orvex_Slave_FreeStream(slave, stream);
    return Orvex_Return_Integer(result);
}

int32_t ORVEX_CALL NoRelay(OrvexMaster*, int32_t, int32_t, const OrvexChar*, OrvexParameterList*,
                           OrvexReceivedStream*) {
    return 0;
}

// Counts finished jobs and wakes the benchmark thread.
std::atomic<int64_t> g_finished{0};

int32_t ORVEX_CALL CountResult(OrvexMaster*, int32_t, int32_t, int32_t type, void* memory, int32_t,
                               intptr_t) {
    Orvex_FreeMemory(memory);
    if (type == 1) {
        g_finished.fetch_add(1, std::memory_order_release);
        g_finished.notify_all();
    }
    return 0;
}

void WaitFinished(int64_t target) {
    int64_t seen = g_finished.load(std::memory_order_acquire);
    while (seen < target) {
        g_finished.wait(seen);
        seen = g_finished.load(std::memory_order_acquire);
    }
}

// One slave with 4 workers and one master connected to it.
struct Pair {
    // With across, the slave's threads run on CPU 1 and the master's (and the caller) on CPU 0.
    explicit Pair(bool across = false) : across_(across) {
        if (across) PinTo(1);
        slave = Orvex_Slave_Init(0, 4);
        if (across) PinTo(0);
        Orvex_Slave_AddJob(slave, FromAscii("Nop").c_str(), FromAscii("").c_str(), &Nop, 0);
        Orvex_Slave_AddJob(slave, FromAscii("Drain").c_str(), FromAscii("").c_str(), &Drain, 0);
        master = Orvex_Master_Init(&NoRelay);
        Orvex_Master_AddSlave(master, FromAscii("127.0.0.1").c_str(),
                              Slave::FromHandle(slave)->Port(), FromAscii("").c_str(), 0,
                              FromAscii("").c_str(), FromAscii("").c_str(), 0, 5);
        Orvex_Master_PingSlave(master, 1);  // the slave has registered the connection
    }
    ~Pair() {
        Orvex_Master_DeInit(master);
        Orvex_Slave_DeInit(slave);
        if (across_) Unpin();
    }
    int32_t Job(const char* name, OrvexMasterCallback callback, void* data = nullptr,
                int32_t size = 0) {
        return Orvex_Master_DoJob(master, FromAscii(name).c_str(), 1, nullptr, callback, 0, data,
                                  size, 0, nullptr, 0, 0, 0);
    }
    bool across_;
    OrvexSlave* slave;
    OrvexMaster* master;
};

void BM_JobRoundTrip(benchmark::State& state) {
    const int across = static_cast<int>(state.range(0));
    Pair pair(across != 0);
    std::vector<double> samples;
    for (auto _ : state) {
        const int64_t target = g_finished.load() + 1;
        const auto start = Clock::now();
        pair.Job("Nop", &CountResult);
        WaitFinished(target);
        samples.push_back(Micros(Clock::now() - start));
    }
    const double p50 = Percentile(samples, 0.5);
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = Percentile(samples, 0.99);
    if (g_rawPingPongP50Us[across] > 0) {
        state.counters["p50_vs_raw_pingpong"] = p50 / g_rawPingPongP50Us[across];
    }
}
BENCHMARK(BM_JobRoundTrip)->ArgName("across")->Arg(0)->Arg(1)->Iterations(5000)->UseRealTime();

void BM_JobsInFlight(benchmark::State& state) {
    constexpr int kJobs = 1000;
    Pair pair;
    for (auto _ : state) {
        const int64_t target = g_finished.load() + kJobs;
        for (int i = 0; i < kJobs; ++i) pair.Job("Nop", &CountResult);
        WaitFinished(target);
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    state.counters["jobs_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kJobs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_JobsInFlight)->Iterations(50)->UseRealTime();

void BM_Stream64MiB(benchmark::State& state) {
    constexpr int32_t kSize = 64 << 20;
    const int across = static_cast<int>(state.range(0));
    Pair pair(across != 0);
    std::vector<uint8_t> data(kSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
    const auto start = Clock::now();
    for (auto _ : state) {
        const int64_t target = g_finished.load() + 1;
        if (pair.Job("Drain", &CountResult, data.data(), kSize) == 0) {
            state.SkipWithError("stream failed");
            break;
        }
        WaitFinished(target);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(state.iterations()) * kSize / seconds / 1e6;
    state.counters["MB_per_s"] = rate;
    ReportShares(state, rate, across);
    state.SetBytesProcessed(state.iterations() * int64_t{kSize});
}
BENCHMARK(BM_Stream64MiB)->ArgName("across")->Arg(0)->Arg(1)->Iterations(4)->UseRealTime();

// The same transfer to a raw receiver that checks each block's CRC-32 and acknowledges it
// without keeping the data: the master's own share of the cost.
void BM_Stream64MiBToRawReceiver(benchmark::State& state) {
    constexpr int32_t kSize = 64 << 20;
    const net::Handle listener = net::Listen(0, true);
    OrvexMaster* master = Orvex_Master_Init(&NoRelay);
    Orvex_Master_AddSlave(master, FromAscii("127.0.0.1").c_str(), net::LocalPort(listener),
                          FromAscii("").c_str(), 0, FromAscii("").c_str(), FromAscii("").c_str(), 0,
                          5);
    pollfd ready{listener, POLLIN, 0};
    poll(&ready, 1, 5000);
    const net::Handle peer = net::Accept(listener);
    std::thread receiver([peer] {
        std::vector<uint8_t> body;
        uint8_t header[8];
        const std::vector<uint8_t> ack = test::Frame(test::Words({160, 0, 1, 0}));
        while (ReadAll(peer, header, sizeof header)) {
            uint32_t length;
            std::memcpy(&length, header + 4, 4);
            body.resize(length);
            if (!ReadAll(peer, body.data(), length)) return;
            uint32_t crc;
            std::memcpy(&crc, body.data() + 12, 4);
            const bool ok = body[0] != 162 || Crc32(body.data() + 16, length - 16) == crc;
            test::WriteAll(peer, ok ? ack : test::Frame(test::Words({160, 0, 0, 0})));
        }
    });
    std::vector<uint8_t> data(kSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
    const auto start = Clock::now();
    for (auto _ : state) {
        if (Orvex_Master_DoJob(master, FromAscii("Drain").c_str(), 1, nullptr, nullptr, 0,
                               data.data(), kSize, 0, nullptr, 0, 0, 0) == 0) {
            state.SkipWithError("stream failed");
            break;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(state.iterations()) * kSize / seconds / 1e6;
    state.counters["MB_per_s"] = rate;
    ReportShares(state, rate);
    Orvex_Master_DeInit(master);
    receiver.join();
    net::Close(peer);
    net::Close(listener);
}
BENCHMARK(BM_Stream64MiBToRawReceiver)->Iterations(4)->UseRealTime();

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The slaves run in a child process, so the process's CPU time is the master's alone.
void BM_IdleMaster(benchmark::State& state) {
    constexpr int kSlaves = 8;
    int ports[2];
    if (pipe(ports) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ports[0]);
        std::vector<OrvexSlave*> slaves;
        for (int i = 0; i < kSlaves; ++i) {
            slaves.push_back(Orvex_Slave_Init(0, 1));
            const int32_t port = Slave::FromHandle(slaves.back())->Port();
            [[maybe_unused]] const ssize_t w = write(ports[1], &port, sizeof port);
        }
        pause();  // until the parent kills it
        _exit(0);
    }
    close(ports[1]);
    OrvexMaster* master = Orvex_Master_Init(&NoRelay);
    for (int i = 0; i < kSlaves; ++i) {
        int32_t port = 0;
        if (read(ports[0], &port, sizeof port) != sizeof port) break;
        Orvex_Master_AddSlave(master, FromAscii("127.0.0.1").c_str(), port, FromAscii("").c_str(),
                              0, FromAscii("").c_str(), FromAscii("").c_str(), 0, 5);
    }
    close(ports[0]);
    double share = 0;
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        share = (CpuSeconds() - cpuBefore) / wall;
    }
    state.counters["slaves"] = Orvex_Master_CountSlaves(master);
    state.counters["cpu_percent_of_core"] = share * 100;
    Orvex_Master_DeInit(master);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}
BENCHMARK(BM_IdleMaster)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace orvex

BENCHMARK_MAIN();
