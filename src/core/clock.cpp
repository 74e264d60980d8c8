#include "core/clock.hpp"

#include <atomic>
#include <chrono>
#include <ctime>

namespace orvex {
namespace {

std::atomic<ClockSource*> g_source{nullptr};

int32_t SystemCalendarTime() noexcept {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return static_cast<int32_t>(now);
    // Read the broken-down local time back as if it were UTC: no time-zone correction.
    return static_cast<int32_t>(timegm(&local));
}

struct MillisecondOrigin {
    std::chrono::steady_clock::time_point start;
    int64_t offsetMs;  // position inside the wall-clock second at the first reading
};

const MillisecondOrigin& Origin() noexcept {
    static const MillisecondOrigin origin = [] {
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count();
        return MillisecondOrigin{std::chrono::steady_clock::now(), ms % 1000};
    }();
    return origin;
}

int32_t SystemMilliseconds() noexcept {
    const MillisecondOrigin& origin = Origin();
    const auto elapsed = std::chrono::steady_clock::now() - origin.start;
    const int64_t ms =
        origin.offsetMs + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

}  // namespace

int32_t CalendarTime() noexcept {
    ClockSource* source = g_source.load(std::memory_order_acquire);
    return source != nullptr ? source->CalendarTime() : SystemCalendarTime();
}

int32_t Milliseconds() noexcept {
    ClockSource* source = g_source.load(std::memory_order_acquire);
    return source != nullptr ? source->Milliseconds() : SystemMilliseconds();
}

void SetClockSourceForTesting(ClockSource* source) noexcept {
    g_source.store(source, std::memory_order_release);
}

}  // namespace orvex
