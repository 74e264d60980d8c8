// Calendar time and the millisecond clock.
//
// Calendar time: the local date and time as whole seconds since 1970-01-01 00:00:00, computed
// from the broken-down local time without time-zone correction, as a signed 32-bit value.
// Millisecond clock: milliseconds since the start of the wall-clock second in which the
// library first read it (so the first reading lies in 0..999); it wraps after about 24 days
// and is only compared through ElapsedMs.
//
// Tests replace the source with SetClockSourceForTesting so that nothing has to sleep.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvex {

class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual int32_t CalendarTime() = 0;
    virtual int32_t Milliseconds() = 0;
};

int32_t CalendarTime() noexcept;
int32_t Milliseconds() noexcept;

// Milliseconds from `start` to `now` of the millisecond clock, correct across its wrap.
inline int32_t ElapsedMs(int32_t start, int32_t now) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start));
}

// Installs a source for both clocks (null restores the system clocks). The source must
// outlive its use; tests install it before they create instances.
void SetClockSourceForTesting(ClockSource* source) noexcept;

// A clock whose values tests set by hand.
class ManualClock : public ClockSource {
public:
    int32_t CalendarTime() override { return calendar.load(); }
    int32_t Milliseconds() override { return milliseconds.load(); }
    std::atomic<int32_t> calendar{0};
    std::atomic<int32_t> milliseconds{0};
};

}  // namespace orvex
