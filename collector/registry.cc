#include "collector/registry.h"

void registry::record(const heartbeat& hb, int64_t now) {
  auto [it, added] = routers_.try_emplace(std::string(hb.nasid, hb.nasid_length));
  router_record& r = it->second;
  if (added) {
    r = router_record{};
    r.first_seen = now;
  } else if (hb.uptime < r.uptime) {
    ++r.reboots;
  }
  r.last_seen = now;
  ++r.heartbeats;
  r.source = hb.source;
  r.uptime = hb.uptime;
  r.load1 = hb.load1;
  r.ram_total = hb.ram_total;
  r.ram_free = hb.ram_free;
  r.processes = hb.processes;
}

size_t registry::forget(int64_t now, int64_t forget_after) {
  return std::erase_if(routers_, [&](const auto& entry) { return now - entry.second.last_seen > forget_after; });
}
