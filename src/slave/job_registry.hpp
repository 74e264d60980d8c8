// JobRegistry: registered job functions by lower-cased name, and the job list text.
//
// The table is open addressing with fixed layout rules (they decide which of two
// registrations under one name a request reaches, and when the table grows):
//   - start slot: djb2 hash of the key's bytes (h = 5381; h = h * 33 + byte, unsigned 32-bit,
//     up to the first zero byte; in the Unicode build the bytes of its UTF-16LE text) modulo
//     the capacity;
//   - probe sequence: from the start slot, with k = 1, 2, 3, ... and a sign s starting at 0,
//     index += (k / 2)^2 * (2s - 1) (mod capacity), s flips: i0, i0, i0+1, i0, i0+4, i0, ...;
//     at most `capacity` probes;
//   - growth: when count > capacity * 2 / 3 after an insert, capacity becomes
//     NextSize(capacity + initial capacity), entries re-placed in slot order;
//   - NextSize(n): make n even, then step up to the first n that no trial divisor
//     2, 4, 7, 10, 13, ... (d * d < n) divides, skipping numbers that end in 5 (100 -> 101).
// Slots are never emptied. Unlike a table that silently drops a registration when its probe
// sequence finds no free slot, this one grows and tries again, so a registration is never
// lost.
//
// Locking: registrations normally happen before masters send requests, but nothing enforces
// that, so the table and the job list text are guarded by a reader-writer lock (lookups and
// job-list replies share it; registrations take it alone).
#pragma once

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"

namespace orvex {

struct JobEntry {
    OrvexJobFunction function = nullptr;
    bool useCdecl = false;  // call as OrvexJobFunctionCdecl (matters on 32-bit x86 only)
    int32_t number = 0;     // 1 for the first registration, 2 for the second, ...
};

class JobRegistry {
  public:
    explicit JobRegistry(int32_t capacityRequest = 100);

    // Registers `function` under `name` (duplicates are kept; lookups find the first) and
    // appends its line to the job list. Returns the job number, or 0 when function is null
    // (nothing is registered then: a request could never run it).
    int32_t Add(TextView name, TextView description, OrvexJobFunction function, bool useCdecl);

    // The entry registered under `name`, compared without regard to case.
    std::optional<JobEntry> Lookup(TextView name) const;

    // The job list text as a job-list reply body {1, 0, text without terminator}.
    std::vector<uint8_t> JobListReply() const;
    Text JobListText() const;

    int32_t Capacity() const;
    int32_t Count() const;

    // Table arithmetic, public for tests.
    static int32_t NextSize(int32_t request);
    static uint32_t Hash(TextView lowerKey);

  private:
    struct Slot {
        Text key;  // lower-cased name
        bool used = false;
        JobEntry entry;
    };

    static bool Place(std::vector<Slot>& slots, Text&& key, const JobEntry& entry);
    void Insert(Text&& key, const JobEntry& entry);
    void Grow();

    mutable std::shared_mutex lock_;  // guards every field below
    int32_t initialCapacity_ = 0;
    int32_t count_ = 0;
    int32_t counter_ = 0;  // jobCounter: last job number given
    std::vector<Slot> slots_;
    Text jobListText_;
};

}  // namespace orvex
