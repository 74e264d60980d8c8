#include "common/relay_refusal.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "binding/orvex_api.hpp"

namespace orvex::demo {
namespace {

constexpr int32_t kReceiving = 1;
constexpr auto kLongestWait = std::chrono::seconds(10);
// The stream's state has no notification: it is looked at this often.
constexpr auto kStatePoll = std::chrono::milliseconds(5);

std::mutex stopMutex;  // guards stopping
std::condition_variable stopSignal;
bool stopping = false;

// Waits until the stream has left the receiving state; false when stopped or timed out.
bool WaitForEnd(OrvexReceivedStream* stream) {
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    std::unique_lock lock(stopMutex);
    while (std::atomic_ref<int32_t>(stream->state).load() == kReceiving) {
        if (stopping || std::chrono::steady_clock::now() >= deadline) return false;
        stopSignal.wait_for(lock, kStatePoll);
    }
    return true;
}

}  // namespace

int32_t ORVEX_CALL RefuseRelayedStream(OrvexMaster* master, int32_t, int32_t, const OrvexChar*,
                                       OrvexParameterList*, OrvexReceivedStream* stream) {
    if (stream == nullptr) return 0;
    // The receive batch reads and writes these fields from another thread.
    std::atomic_ref<int32_t>(stream->cancelRequest).store(1);
    if (TheApi().Orvex_Master_FreeStream == nullptr) return 0;
    WaitForEnd(stream);
    TheApi().Orvex_Master_FreeStream(master, stream);  // also safe while it is still received
    return 0;
}

void StopRefusingRelayedStreams() {
    std::scoped_lock lock(stopMutex);
    stopping = true;
    stopSignal.notify_all();
}

}  // namespace orvex::demo
