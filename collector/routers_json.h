// The collector's records as JSON, for scripts and dashboards that want
// one document rather than Prometheus's series.
#pragma once

#include <stdint.h>

#include <string>

#include "collector/registry.h"

std::string routers_json(const fleet_snapshot& s, int64_t stale_after);
