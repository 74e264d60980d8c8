// Slave benchmarks, all in one run so the figures can be compared:
//   raw   TCP ping-pong between two loopback sockets (a thread echoes): the floor for (a);
//   (a)   one raw master, one request in flight: job request -> result of a trivial job;
//   (b)   one raw master keeping 1000 requests in flight, 4 workers: jobs per second;
//   (c)   an idle slave with 32 workers and 10 connected idle masters for 5 s: CPU use.
// Usage: bench_slave [--quick] [--only raw|a|b|c]   (--quick shortens every phase)
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"
#include "net/socket.hpp"
#include "protocol/messages.hpp"
#include "slave/slave.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using orvex::protocol::ReadLe32;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMagic = orvex::protocol::kPacketMagic;

void SetBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t r = send(fd, data, size, MSG_NOSIGNAL);
        if (r <= 0) return false;
        data += r;
        size -= static_cast<size_t>(r);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t r = read(fd, data, size);
        if (r <= 0) return false;
        data += r;
        size -= static_cast<size_t>(r);
    }
    return true;
}

Bytes Packet(const Bytes& body) {
    Bytes packet(8 + body.size());
    orvex::protocol::WriteLe32(packet.data(), kMagic);
    orvex::protocol::WriteLe32(packet.data() + 4, static_cast<int32_t>(body.size()));
    std::memcpy(packet.data() + 8, body.data(), body.size());
    return packet;
}

Bytes JobRequestPacket(int32_t jobId) {
    orvex::protocol::JobRequestHead head;
    head.jobId = jobId;
    const uint8_t emptyParams[4] = {0, 0, 0, 0};
    return Packet(orvex::protocol::BuildJobRequest(head, orvex::FromAscii("Trivial"), emptyParams));
}

// Reads packets the way a master does: whatever has arrived, in one read, then packet by
// packet from the buffer.
class PacketReader {
  public:
    explicit PacketReader(int fd) : fd_(fd), buffer_(1 << 16) {}

    // The next body (valid until the next call); empty on failure.
    std::span<const uint8_t> Next() {
        for (;;) {
            if (filled_ - pos_ >= 8) {
                const uint8_t* header = buffer_.data() + pos_;
                const auto length = static_cast<size_t>(ReadLe32(header + 4));
                if (static_cast<uint32_t>(ReadLe32(header)) != kMagic) return {};
                if (filled_ - pos_ >= 8 + length) {
                    pos_ += 8 + length;
                    return {header + 8, length};
                }
                if (8 + length > buffer_.size()) buffer_.resize(8 + length);
            }
            std::memmove(buffer_.data(), buffer_.data() + pos_, filled_ - pos_);
            filled_ -= pos_;
            pos_ = 0;
            const ssize_t r = read(fd_, buffer_.data() + filled_, buffer_.size() - filled_);
            if (r <= 0) return {};
            filled_ += static_cast<size_t>(r);
        }
    }

  private:
    int fd_;
    std::vector<uint8_t> buffer_;
    size_t filled_ = 0;
    size_t pos_ = 0;
};

OrvexReturnValue* ORVEX_CALL Trivial(OrvexSlave*, int32_t, int32_t jobId, OrvexParameterList*,
                                     OrvexReceivedStream*) {
    return Orvex_Return_Integer(jobId);
}

struct Percentiles {
    double p50;
    double p99;
};

Percentiles Summarise(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Pins the calling thread (and the threads it creates afterwards) to one CPU; false when the
// machine has fewer CPUs or the call is refused.
bool PinTo(int cpu) {
    if (cpu < 0) return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

void Unpin() {
    cpu_set_t set;
    CPU_ZERO(&set);
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    for (long c = 0; c < count && c < CPU_SETSIZE; ++c) CPU_SET(static_cast<int>(c), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// ---- raw ping-pong ----------------------------------------------------------------------------

// With serverCpu/clientCpu >= 0 the echo thread and the client run on those CPUs ("across
// CPUs" when they differ), otherwise wherever the scheduler puts them.
Percentiles RawPingPong(int rounds, int serverCpu = -1, int clientCpu = -1) {
    const int listener = orvex::net::Listen(0, true);
    const int32_t port = orvex::net::LocalPort(listener);
    const int client = orvex::net::Connect("127.0.0.1", port);
    int server = orvex::net::kInvalidHandle;
    while (server == orvex::net::kInvalidHandle) {
        pollfd p{listener, POLLIN, 0};
        poll(&p, 1, 1000);
        server = orvex::net::Accept(listener);
    }
    SetBlocking(client);
    SetBlocking(server);
    PinTo(serverCpu);
    std::thread echo([server] {
        uint8_t buffer[16];
        while (ReadAll(server, buffer, sizeof buffer) && WriteAll(server, buffer, sizeof buffer)) {
        }
    });
    PinTo(clientCpu);
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(rounds));
    uint8_t message[16] = {};
    for (int i = 0; i < rounds + 1000; ++i) {
        const auto start = Clock::now();
        WriteAll(client, message, sizeof message);
        ReadAll(client, message, sizeof message);
        if (i >= 1000) samples.push_back(Micros(Clock::now() - start));
    }
    shutdown(client, SHUT_RDWR);
    echo.join();
    close(client);
    close(server);
    close(listener);
    Unpin();
    return Summarise(samples);
}

// ---- (a) request -> result latency ----------------------------------------------------------

// The slave's threads inherit serverCpu; the raw client runs on clientCpu.
Percentiles JobLatency(int rounds, int serverCpu = -1, int clientCpu = -1) {
    PinTo(serverCpu);
    OrvexSlave* slave = Orvex_Slave_Init(0, 4);
    PinTo(clientCpu);
    Orvex_Slave_AddJob(slave, orvex::FromAscii("Trivial").c_str(), orvex::FromAscii("").c_str(),
                       Trivial, 0);
    Orvex_Slave_LogEvents(slave, 0);
    const int fd = orvex::net::Connect("127.0.0.1", orvex::Slave::FromHandle(slave)->Port());
    SetBlocking(fd);
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(rounds));
    PacketReader reader(fd);
    for (int i = 0; i < rounds + 1000; ++i) {
        const Bytes request = JobRequestPacket(i + 1);
        const auto start = Clock::now();
        WriteAll(fd, request.data(), request.size());
        for (;;) {  // queued, started, then the result
            const std::span<const uint8_t> body = reader.Next();
            if (body.size() < 8) return {-1, -1};
            if (ReadLe32(body.data() + 4) == orvex::protocol::kStatusResult) break;
        }
        if (i >= 1000) samples.push_back(Micros(Clock::now() - start));
    }
    close(fd);
    Orvex_Slave_DeInit(slave);
    Unpin();
    return Summarise(samples);
}

// ---- (b) throughput with 1000 requests in flight ----------------------------------------------

double Throughput(int totalJobs, int inFlight) {
    OrvexSlave* slave = Orvex_Slave_Init(0, 4);
    Orvex_Slave_AddJob(slave, orvex::FromAscii("Trivial").c_str(), orvex::FromAscii("").c_str(),
                       Trivial, 0);
    Orvex_Slave_LogEvents(slave, 0);
    const int fd = orvex::net::Connect("127.0.0.1", orvex::Slave::FromHandle(slave)->Port());
    SetBlocking(fd);
    const Bytes request = JobRequestPacket(1);

    std::mutex lock;
    std::condition_variable creditsChanged;
    int credits = inFlight;
    int sent = 0;
    const auto start = Clock::now();
    std::thread writer([&] {
        Bytes batch;
        while (sent < totalJobs) {
            int take;
            {
                std::unique_lock guard(lock);
                creditsChanged.wait(guard, [&] { return credits > 0; });
                take = std::min(credits, totalJobs - sent);
                credits -= take;
            }
            batch.clear();
            for (int i = 0; i < take; ++i)
                batch.insert(batch.end(), request.begin(), request.end());
            if (!WriteAll(fd, batch.data(), batch.size())) return;
            sent += take;
        }
    });
    // Reader: counts results in whatever arrives, packet by packet.
    std::vector<uint8_t> buffer(1 << 20);
    size_t filled = 0;
    int results = 0;
    while (results < totalJobs) {
        const ssize_t r = read(fd, buffer.data() + filled, buffer.size() - filled);
        if (r <= 0) break;
        filled += static_cast<size_t>(r);
        size_t pos = 0;
        int done = 0;
        while (filled - pos >= 8) {
            const auto length = static_cast<size_t>(ReadLe32(buffer.data() + pos + 4));
            if (filled - pos < 8 + length) break;
            const uint8_t* body = buffer.data() + pos + 8;
            if (ReadLe32(body) == 2 && ReadLe32(body + 4) == orvex::protocol::kStatusResult) ++done;
            pos += 8 + length;
        }
        std::memmove(buffer.data(), buffer.data() + pos, filled - pos);
        filled -= pos;
        if (done > 0) {
            results += done;
            std::scoped_lock guard(lock);
            credits += done;
            creditsChanged.notify_one();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    close(fd);
    Orvex_Slave_DeInit(slave);
    return results / seconds;
}

// ---- (c) idle CPU ------------------------------------------------------------------------------

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double IdleCpuPercent(int seconds) {
    OrvexSlave* slave = Orvex_Slave_Init(0, 32);
    const int32_t port = orvex::Slave::FromHandle(slave)->Port();
    std::vector<int> masters;
    for (int i = 0; i < 10; ++i) masters.push_back(orvex::net::Connect("127.0.0.1", port));
    // Wait until all ten are registered, then measure.
    while (Orvex_Slave_CountMasters(slave) < 10) std::this_thread::yield();
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    for (const int fd : masters) close(fd);
    Orvex_Slave_DeInit(slave);
    return 100.0 * cpu / wall;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string only;  // run one phase only: raw, a, b or c (for profiling)
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") quick = true;
        if (arg == "--only" && i + 1 < argc) only = argv[++i];
    }
    const int rounds = quick ? 2000 : 20000;
    const int jobs = quick ? 50000 : 500000;
    const int idleSeconds = quick ? 1 : 5;
    auto runs = [&](const char* phase) { return only.empty() || only == phase; };

    Percentiles raw{0, 0};
    if (runs("raw") || runs("a")) {
        raw = RawPingPong(rounds);
        std::printf("raw TCP ping-pong (16 bytes, %d rounds): p50 %.1f us, p99 %.1f us\n", rounds,
                    raw.p50, raw.p99);
    }
    if (runs("a")) {
        const Percentiles job = JobLatency(rounds);
        std::printf(
            "(a) job request -> result, trivial job (%d rounds): p50 %.1f us, p99 %.1f us; "
            "p50 = %.2f x raw p50 (target <= 2)\n",
            rounds, job.p50, job.p99, job.p50 / raw.p50);
        if (sysconf(_SC_NPROCESSORS_ONLN) >= 2) {
            // Client on CPU 0, server side on CPU 1, for both the raw and the job round trip.
            const Percentiles rawAcross = RawPingPong(rounds, 1, 0);
            const Percentiles jobAcross = JobLatency(rounds, 1, 0);
            std::printf(
                "(a) across CPUs (client on CPU 0, server side on CPU 1): raw p50 %.1f us, "
                "p99 %.1f us; job p50 %.1f us, p99 %.1f us; p50 = %.2f x raw p50 (target <= 2)\n",
                rawAcross.p50, rawAcross.p99, jobAcross.p50, jobAcross.p99,
                jobAcross.p50 / rawAcross.p50);
        }
    }
    if (runs("b")) {
        const double perSecond = Throughput(jobs, 1000);
        std::printf("(b) %d jobs, 1000 in flight, 4 workers: %.0f jobs/s (target >= 100000)\n",
                    jobs, perSecond);
    }
    if (runs("c")) {
        const double idle = IdleCpuPercent(idleSeconds);
        std::printf(
            "(c) idle slave, 32 workers, 10 idle masters, %d s: CPU %.2f %% of one core "
            "(target < 1)\n",
            idleSeconds, idle);
    }
    return 0;
}
