// The records as the collector's threads share them: the receiver counts
// heartbeats into them while the HTTP workers and the signal thread take
// copies, all under one lock.
#pragma once

#include <stdint.h>
#include <time.h>

#include <mutex>

#include "collector/registry.h"

// Seconds between the receiver's sweeps of the records silent too long;
// also how often the state file is written.
constexpr int kSweepInterval = 60;

struct shared_registry {
  explicit shared_registry(registry_limits limits) : records(limits) {}
  std::mutex lock;
  registry records;
};

int64_t clock_ms(clockid_t id);

// Now on both clocks, as the records are stamped.
moment now_moment();

// The records silent too long are dropped, then a copy is taken: with a
// large fleet rendering takes seconds, copying milliseconds, and heartbeats
// keep being counted meanwhile.
fleet_snapshot take_snapshot(shared_registry* shared, int64_t forget_after);
