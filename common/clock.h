// The clock and sleep at the operating-system boundary. Every wait and every
// "now" of the programs goes through here so tests can drive time without
// waiting for it.
#pragma once

#include <time.h>

// Current time in whole seconds, as time() gives it.
time_t os_time();
// Sleeps whole seconds (a sleep(3) that resumes after signals).
void os_sleep(unsigned seconds);

// Test hook: replaces both with the given functions; nullptr restores the
// real clock.
struct OsClock {
  time_t (*now)();
  void (*sleep)(unsigned seconds);
};
void os_clock_override(const OsClock* clock);
