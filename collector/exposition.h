// What the collector's renderings of its records share: Prometheus's text
// (metrics_text.h), the JSON (routers_json.h) and the page (fleet_page.h)
// must name, place and judge a router alike.
#pragma once

#include <stdint.h>

#include <string>

#include "collector/registry.h"

// The NAS identifier as valid UTF-8 text: well-formed UTF-8 sequences as
// they are, every other byte, control characters and the backslash itself
// as "\xHH", so that distinct identifiers stay distinct.
std::string printable_nasid(const std::string& raw);

// `source` in network byte order, dotted.
std::string address_text(uint32_t source);

// A load average in the heartbeat's fixed point (16 bits of fraction) as
// decimal text.
std::string load_text(uint32_t fixed);

// A router is up while its last heartbeat is younger than `stale_after`
// seconds when the snapshot was taken.
bool is_up(const router_record& r, const fleet_snapshot& s, int64_t stale_after);
