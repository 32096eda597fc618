// The collector's records as Prometheus scrapes them (the text exposition
// format, version 0.0.4), as JSON and as a page for a person.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "collector/registry.h"

// The NAS identifier as valid UTF-8 text: well-formed UTF-8 sequences as
// they are, every other byte, control characters and the backslash itself
// as "\xHH", so that distinct identifiers stay distinct.
std::string printable_nasid(const std::string& raw);

// The collector process's own figures, as every Prometheus exporter shows.
struct process_stats {
  double cpu_seconds = 0;
  uint64_t resident_bytes = 0;
  uint64_t virtual_bytes = 0;
  uint64_t open_fds = 0;
  uint64_t max_fds = 0;
  int64_t start_time = 0;  // wall clock
};

// A router is up while its last heartbeat is younger than `stale_after`
// seconds when the snapshot was taken.
std::string metrics_text(const fleet_snapshot& s, int64_t stale_after, const process_stats& p, const char* version);
std::string routers_json(const fleet_snapshot& s, int64_t stale_after);
// A self-contained HTML page: one table row per router, the down ones first.
std::string fleet_page(const fleet_snapshot& s, int64_t stale_after);
