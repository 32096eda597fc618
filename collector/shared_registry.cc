#include "collector/shared_registry.h"

int64_t clock_ms(clockid_t id) {
  struct timespec t = {};
  clock_gettime(id, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

moment now_moment() { return {clock_ms(CLOCK_MONOTONIC) / 1000, clock_ms(CLOCK_REALTIME) / 1000}; }

fleet_snapshot take_snapshot(shared_registry* shared, int64_t forget_after) {
  moment now = now_moment();
  std::lock_guard<std::mutex> guard(shared->lock);
  shared->records.forget(now.mono, forget_after);
  return shared->records.snapshot(now);
}
