#include "common/clock.h"

#include <errno.h>

namespace {

time_t real_now() { return ::time(nullptr); }

int64_t real_monotonic() {
  struct timespec t = {};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec);
}

// sleep() returns early when a signal (the runner's SIGALRM, say) lands;
// finish the rest so callers get the pause they asked for.
void real_sleep(unsigned seconds) {
  struct timespec left = {static_cast<time_t>(seconds), 0};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

const OsClock kRealClock = {real_now, real_sleep, real_monotonic};
const OsClock* g_clock = &kRealClock;

}  // namespace

time_t os_time() { return g_clock->now(); }

int64_t os_monotonic() { return g_clock->monotonic ? g_clock->monotonic() : static_cast<int64_t>(g_clock->now()); }

void os_sleep(unsigned seconds) { g_clock->sleep(seconds); }

void os_clock_override(const OsClock* clock) { g_clock = clock ? clock : &kRealClock; }
