// The collector's own CPU time, memory and descriptors, from /proc/self.
#pragma once

#include <stdint.h>

#include "collector/metrics_text.h"

// `start_time` is when the process started, wall clock.
process_stats process_stats_read(int64_t start_time);
