// The collector's records as Prometheus scrapes them (the text exposition
// format, version 0.0.4) and as JSON.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "collector/registry.h"

// The NAS identifier as valid UTF-8 text: well-formed UTF-8 sequences as
// they are, every other byte, control characters and the backslash itself
// as "\xHH", so that distinct identifiers stay distinct.
std::string printable_nasid(const std::string& raw);

// A router is up while its last heartbeat is younger than `stale_after`.
std::string metrics_text(const registry& r, int64_t now, int64_t stale_after);
std::string routers_json(const registry& r, int64_t now, int64_t stale_after);
