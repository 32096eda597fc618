#include "collector/registry.h"

#include <algorithm>

#include "collector/growing_text.h"

namespace {

constexpr int64_t kRateWindow = 60;
// How much later a router's boot moment (arrival minus uptime) may seem than
// the last heartbeat said before it counts as a reboot: more than an echo
// request waits in a queue; over long silences, 1000 ppm of clock drift. A
// reboot moves it by at least the uptime the router had reached.
constexpr int64_t kBootSlack = 10;

// The uptime went backwards, or the router booted again after its last
// heartbeat: a router that had been up for seconds only is back with a
// larger uptime after its reboot, which a comparison of uptimes misses.
bool rebooted(const router_record& r, uint32_t uptime, int64_t mono_now) {
  if (uptime < r.uptime) {
    return true;
  }
  const int64_t gap = mono_now - r.last_seen_mono;
  const int64_t later = gap - (static_cast<int64_t>(uptime) - r.uptime);
  return later > std::max(kBootSlack, gap / 1000);
}

}  // namespace

const char* refusal_name(refusal why) {
  static const char* const kNames[kRefusalKinds] = {"malformed", "foreign", "over-cap", "rate", "not-allowed"};
  return kNames[static_cast<size_t>(why)];
}

bool registry::admit(const std::string& nasid, uint32_t source, int64_t mono_now) {
  if (allowed_ && allowed_->count(nasid) == 0) {
    refuse(refusal::not_allowed);
    return false;
  }
  if (routers_.size() >= limits_.max_routers) {
    refuse(refusal::over_cap);
    return false;
  }
  if (window_start_ == INT64_MIN || mono_now - window_start_ >= kRateWindow) {
    new_by_source_.clear();
    window_start_ = mono_now;
  }
  uint32_t& made = new_by_source_[source];
  if (made >= limits_.new_per_source) {
    refuse(refusal::rate);
    return false;
  }
  ++made;
  return true;
}

bool registry::record(const heartbeat& hb, moment now) {
  std::string nasid(hb.nasid, hb.nasid_length);
  auto it = routers_.find(nasid);
  if (it == routers_.end()) {
    if (!admit(nasid, hb.source, now.mono)) {
      return false;
    }
    it = routers_.emplace(std::move(nasid), router_record{}).first;
    it->second.first_seen = now.wall;
  } else if (rebooted(it->second, hb.uptime, now.mono)) {
    ++it->second.reboots;
  }
  router_record& r = it->second;
  r.last_seen = now.wall;
  r.last_seen_mono = now.mono;
  ++r.heartbeats;
  r.source = hb.source;
  r.uptime = hb.uptime;
  r.load1 = hb.load1;
  r.ram_total = hb.ram_total;
  r.ram_free = hb.ram_free;
  r.processes = hb.processes;
  ++accepted_;
  return true;
}

void registry::kernel_dropped(uint32_t socket_count) {
  kernel_drops_ += static_cast<uint32_t>(socket_count - last_socket_drops_);
  last_socket_drops_ = socket_count;
}

size_t registry::forget(int64_t mono_now, int64_t forget_after) {
  return std::erase_if(routers_,
                       [&](const auto& entry) { return mono_now - entry.second.last_seen_mono > forget_after; });
}

void registry::allow(allow_list allowed) {
  allowed_ = std::move(allowed);
  if (allowed_) {
    std::erase_if(routers_, [&](const auto& entry) { return allowed_->count(entry.first) == 0; });
  }
}

bool registry::restore(const std::string& nasid, router_record r, moment now) {
  if ((allowed_ && allowed_->count(nasid) == 0) || routers_.size() >= limits_.max_routers) {
    return false;
  }
  r.last_seen_mono = now.mono - std::max<int64_t>(0, now.wall - r.last_seen);
  return routers_.insert_or_assign(nasid, r).second;
}

fleet_snapshot registry::snapshot(moment now) const {
  fleet_snapshot s;
  s.routers.reserve(routers_.size());
  // Written from end to end at once: a million records' pages asked for
  // together, not faulted in one by one.
  prefault(s.routers.data(), s.routers.capacity() * sizeof s.routers[0]);
  s.routers.assign(routers_.begin(), routers_.end());
  s.accepted = accepted_;
  std::copy(std::begin(refused_), std::end(refused_), std::begin(s.refused));
  s.kernel_drops = kernel_drops_;
  s.max_routers = limits_.max_routers;
  s.taken = now;
  return s;
}
