// One record per NAS identifier heard from: when it was first and last
// heard, how many heartbeats and reboots, and what its last heartbeat said.
// Bounded: at most `max_routers` records, at most `new_per_source` new
// identifiers per source address a minute, and optionally only the
// identifiers of an allow list; every datagram refused is counted by reason.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "collector/heartbeat.h"

// A point in time on both clocks, in seconds: ages come from `mono`
// (CLOCK_MONOTONIC, which a clock step leaves alone), what is shown from
// `wall` (the epoch).
struct moment {
  int64_t mono;
  int64_t wall;
};

struct router_record {
  int64_t first_seen;      // wall clock
  int64_t last_seen;       // wall clock
  int64_t last_seen_mono;  // monotonic clock
  uint64_t heartbeats;
  uint64_t reboots;  // times the uptime went backwards or the boot moment moved on
  uint32_t source;   // sender of the last heartbeat, network byte order
  uint32_t uptime;
  uint32_t load1;
  uint32_t ram_total;
  uint32_t ram_free;
  uint16_t processes;
};

enum class refusal { malformed, foreign, over_cap, rate, not_allowed };
inline constexpr size_t kRefusalKinds = 5;
// The reason as the exposition's `reason` label shows it.
const char* refusal_name(refusal why);

struct registry_limits {
  size_t max_routers = 200000;
  uint32_t new_per_source = 10;  // per minute
};

// A copy of what the records say at one moment, for rendering without the
// registry's lock: a vector is about half the size of the map.
struct fleet_snapshot {
  std::vector<std::pair<std::string, router_record>> routers;  // by identifier, in byte order
  uint64_t accepted = 0;
  uint64_t refused[kRefusalKinds] = {};
  uint64_t kernel_drops = 0;
  size_t max_routers = 0;
  moment taken = {};
};

// Not thread-safe: the collector holds one lock around every use.
class registry final {
 public:
  using allow_list = std::optional<std::unordered_set<std::string>>;

  explicit registry(registry_limits limits = {}) : limits_(limits) {}

  // Counts the heartbeat `hb` received at `now`; false when it was refused
  // (and counted as such).
  bool record(const heartbeat& hb, moment now);
  // Counts a datagram refused before it became a heartbeat.
  void refuse(refusal why) { ++refused_[static_cast<size_t>(why)]; }
  // The receive socket's own count of datagrams the kernel dropped for
  // want of room, which wraps at 32 bits.
  void kernel_dropped(uint32_t socket_count);
  // Drops the records last heard more than `forget_after` seconds before
  // `mono_now`; returns how many.
  size_t forget(int64_t mono_now, int64_t forget_after);
  // Only the identifiers of `allowed` are accepted from now on (all with
  // nullopt); the records of others are dropped.
  void allow(allow_list allowed);
  // A record read back from the state file at `now`: its age goes on from
  // the wall clock's, never negative. False when the limits refuse it.
  bool restore(const std::string& nasid, router_record r, moment now);

  // Keyed by the identifier's raw bytes, in byte order.
  const std::map<std::string, router_record>& routers() const { return routers_; }
  uint64_t refused(refusal why) const { return refused_[static_cast<size_t>(why)]; }
  uint64_t accepted() const { return accepted_; }
  fleet_snapshot snapshot(moment now) const;

 private:
  bool admit(const std::string& nasid, uint32_t source, int64_t mono_now);

  registry_limits limits_;
  std::map<std::string, router_record> routers_;
  allow_list allowed_;
  // New identifiers per source in the current minute; cleared every
  // minute, and never larger than the records made in it.
  std::unordered_map<uint32_t, uint32_t> new_by_source_;
  int64_t window_start_ = INT64_MIN;
  uint64_t accepted_ = 0;
  uint64_t refused_[kRefusalKinds] = {};
  uint64_t kernel_drops_ = 0;
  uint32_t last_socket_drops_ = 0;
};
