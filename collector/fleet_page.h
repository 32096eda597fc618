// The collector's records as a page for a person, who has no Prometheus at
// hand: a self-contained HTML page, one table row per router, the down ones
// first.
#pragma once

#include <stdint.h>

#include <string>

#include "collector/registry.h"

std::string fleet_page(const fleet_snapshot& s, int64_t stale_after);
