// Packet framing over loopback: SendPacket on one end, the receive batch on the other, one
// packet at a time (each iteration waits until the body has been dispatched).
#include <benchmark/benchmark.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "protocol/framing.hpp"
#include "support/loopback.hpp"

namespace orvex::protocol {
namespace {

class CountingOwner : public BatchOwner {
public:
    void Dispatch(int32_t, std::span<uint8_t> body) override {
        bytes.fetch_add(body.size(), std::memory_order_relaxed);
        dispatched.fetch_add(1, std::memory_order_release);
        dispatched.notify_one();
    }
    void OnReceiveError(int32_t) override {}
    std::atomic<uint64_t> dispatched{0};
    std::atomic<uint64_t> bytes{0};
};

std::vector<uint8_t> Body(size_t size, bool compressible) {
    std::vector<uint8_t> body(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245 + 12345;
        body[i] = compressible ? static_cast<uint8_t>("orvex packet "[i % 13]) : static_cast<uint8_t>(x >> 16);
    }
    body[0] = 2;  // command word
    body[1] = body[2] = body[3] = 0;
    return body;
}

void BM_SendAndReceive(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const bool compress = state.range(1) != 0;
    test::LoopbackPair pair;
    RecursiveMutex lock;
    CountingOwner owner;
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        while (!stop.load()) {
            pollfd p{pair.server, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) RunReceiveBatch(pair.server, 1, kDefaultReceiveBlockSize, owner);
        }
    });
    const std::vector<uint8_t> body = Body(size, compress);
    const CompressionSettings settings = compress ? CompressionSettings{1, 1} : CompressionSettings{};
    uint64_t expected = 0;
    for (auto _ : state) {
        SendPacket(pair.client, lock, settings, body);
        ++expected;
        uint64_t seen = owner.dispatched.load(std::memory_order_acquire);
        while (seen < expected) {
            owner.dispatched.wait(seen, std::memory_order_acquire);
            seen = owner.dispatched.load(std::memory_order_acquire);
        }
    }
    stop = true;
    receiver.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_SendAndReceive)
    ->ArgNames({"bytes", "compressed"})
    ->Args({64, 0})
    ->Args({64 << 10, 0})
    ->Args({4 << 20, 0})
    ->Args({64, 1})
    ->Args({64 << 10, 1})
    ->Args({4 << 20, 1})
    ->UseRealTime();

}  // namespace
}  // namespace orvex::protocol

BENCHMARK_MAIN();
