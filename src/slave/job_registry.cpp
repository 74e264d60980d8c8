#include "slave/job_registry.hpp"

#include <mutex>

#include "protocol/messages.hpp"

namespace orvex {
namespace {

constexpr std::string_view kNoJobsText = "Currently no jobs avaible";

// Visits the probe sequence of a start slot until `stop(index)` is true; returns that index
// or -1 after `capacity` probes.
template <typename Stop>
int32_t Probe(int32_t capacity, uint32_t hash, Stop stop) {
    int64_t index = hash % static_cast<uint32_t>(capacity);
    int sign = 0;
    for (int64_t k = 0; k < capacity;) {
        if (stop(static_cast<int32_t>(index))) return static_cast<int32_t>(index);
        ++k;
        const int64_t half = k / 2;
        index = (index + (half * half % capacity) * (2 * sign - 1)) % capacity;
        if (index < 0) index += capacity;
        sign ^= 1;
    }
    return -1;
}

// djb2 over the bytes of `text` as they lie in memory (UTF-16LE in the Unicode build), up to
// the first zero byte; `map` turns each character into the one that is hashed.
template <typename Map>
uint32_t HashBytes(TextView text, Map map) {
    uint32_t h = 5381;
    for (const Char c : text) {
        const auto unit = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(map(c)));
        for (size_t i = 0; i < sizeof(Char); ++i) {
            const uint32_t byte = (unit >> (8 * i)) & 0xFF;
            if (byte == 0) return h;
            h = h * 33 + byte;
        }
    }
    return h;
}

bool EqualsLowered(const Text& key, TextView name) {
    if (key.size() != name.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] != LowerChar(name[i])) return false;
    }
    return true;
}

}  // namespace

JobRegistry::JobRegistry(int32_t capacityRequest)
    : initialCapacity_(NextSize(capacityRequest)),
      slots_(static_cast<size_t>(initialCapacity_)),
      jobListText_(FromAscii(kNoJobsText)) {}

int32_t JobRegistry::NextSize(int32_t request) {
    int64_t n = request;
    if (n % 2 != 0) ++n;
    for (;;) {
        bool tried = false;
        bool divisible = false;
        for (int64_t d = 2; d * d < n; d += (d == 2 ? 2 : 3)) {
            tried = true;
            if (n % d == 0) {
                divisible = true;
                break;
            }
        }
        if (tried && !divisible) return static_cast<int32_t>(n);
        ++n;
        if (n % 10 == 5) ++n;
    }
}

uint32_t JobRegistry::Hash(TextView lowerKey) {
    return HashBytes(lowerKey, [](Char c) { return c; });
}

bool JobRegistry::Place(std::vector<Slot>& slots, Text&& key, const JobEntry& entry) {
    const auto capacity = static_cast<int32_t>(slots.size());
    const int32_t index =
        Probe(capacity, Hash(key), [&](int32_t i) { return !slots[static_cast<size_t>(i)].used; });
    if (index < 0) return false;
    Slot& slot = slots[static_cast<size_t>(index)];
    slot.key = std::move(key);
    slot.used = true;
    slot.entry = entry;
    return true;
}

void JobRegistry::Grow() {
    int32_t capacity = NextSize(static_cast<int32_t>(slots_.size()) + initialCapacity_);
    for (;;) {
        std::vector<Slot> grown(static_cast<size_t>(capacity));
        bool placedAll = true;
        for (Slot& slot : slots_) {
            if (!slot.used) continue;
            Text key = slot.key;
            if (!Place(grown, std::move(key), slot.entry)) {
                placedAll = false;
                break;
            }
        }
        if (placedAll) {
            slots_ = std::move(grown);
            return;
        }
        capacity = NextSize(capacity + initialCapacity_);
    }
}

void JobRegistry::Insert(Text&& key, const JobEntry& entry) {
    // The probe sequence reaches only i0 + j*j, so it can miss free slots; growing until the
    // entry fits keeps every registration.
    while (count_ >= static_cast<int32_t>(slots_.size()) || !Place(slots_, Text(key), entry)) {
        Grow();
    }
    ++count_;
    if (count_ > static_cast<int32_t>(slots_.size()) * 2 / 3) Grow();
}

int32_t JobRegistry::Add(TextView name, TextView description, OrvexJobFunction function,
                         bool useCdecl) {
    if (function == nullptr) return 0;
    std::unique_lock guard(lock_);
    const JobEntry entry{function, useCdecl, ++counter_};
    Insert(ToLower(name), entry);
    if (jobListText_ == FromAscii(kNoJobsText)) jobListText_.clear();
    jobListText_ += FromAscii("Name: \"");
    jobListText_ += name;
    jobListText_ += FromAscii("\" Description: \"");
    jobListText_ += description;
    jobListText_ += FromAscii("\"\n\r");
    return entry.number;
}

std::optional<JobEntry> JobRegistry::Lookup(TextView name) const {
    std::shared_lock guard(lock_);
    const auto capacity = static_cast<int32_t>(slots_.size());
    std::optional<JobEntry> found;
    Probe(capacity, HashBytes(name, LowerChar), [&](int32_t i) {
        const Slot& slot = slots_[static_cast<size_t>(i)];
        if (!slot.used) return true;
        if (!EqualsLowered(slot.key, name)) return false;
        found = slot.entry;
        return true;
    });
    return found;
}

std::vector<uint8_t> JobRegistry::JobListReply() const {
    std::shared_lock guard(lock_);
    return protocol::BuildJobList(jobListText_);
}

Text JobRegistry::JobListText() const {
    std::shared_lock guard(lock_);
    return jobListText_;
}

int32_t JobRegistry::Capacity() const {
    std::shared_lock guard(lock_);
    return static_cast<int32_t>(slots_.size());
}

int32_t JobRegistry::Count() const {
    std::shared_lock guard(lock_);
    return count_;
}

}  // namespace orvex
