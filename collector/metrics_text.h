// The collector's records as Prometheus scrapes them: the text exposition
// format, version 0.0.4.
#pragma once

#include <stdint.h>

#include <string>

#include "collector/growing_text.h"
#include "collector/registry.h"

// The collector process's own figures, as every Prometheus exporter shows.
struct process_stats {
  double cpu_seconds = 0;
  uint64_t resident_bytes = 0;
  uint64_t virtual_bytes = 0;
  uint64_t open_fds = 0;
  uint64_t max_fds = 0;
  int64_t start_time = 0;  // wall clock
};

// `version` is shown in spotwarden_collector_build_info.
std::string metrics_text(const fleet_snapshot& s, int64_t stale_after, const process_stats& p, const char* version);

// The same text written into `out`, with `grew` (when set) told every few
// megabytes of the text so far.
void metrics_text(std::string& out, const fleet_snapshot& s, int64_t stale_after, const process_stats& p,
                  const char* version, const text_progress& grew);
