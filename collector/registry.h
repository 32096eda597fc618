// One record per NAS identifier heard from: when it was first and last
// heard, how many heartbeats and reboots, and what its last heartbeat said.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

#include "collector/heartbeat.h"

struct router_record {
  int64_t first_seen;
  int64_t last_seen;
  uint64_t heartbeats;
  uint64_t reboots;  // times the uptime went backwards
  uint32_t source;   // sender of the last heartbeat, network byte order
  uint32_t uptime;
  uint32_t load1;
  uint32_t ram_total;
  uint32_t ram_free;
  uint16_t processes;
};

// Not thread-safe: the collector holds one lock around every use.
class registry final {
 public:
  // Counts the heartbeat `hb` received at `now` (epoch seconds).
  void record(const heartbeat& hb, int64_t now);
  // Counts a datagram that was not a heartbeat.
  void reject() { ++rejected_; }
  // Drops the records last heard more than `forget_after` seconds before
  // `now`; returns how many.
  size_t forget(int64_t now, int64_t forget_after);

  // Keyed by the identifier's raw bytes, in byte order.
  const std::map<std::string, router_record>& routers() const { return routers_; }
  uint64_t rejected() const { return rejected_; }

 private:
  std::map<std::string, router_record> routers_;
  uint64_t rejected_ = 0;
};
