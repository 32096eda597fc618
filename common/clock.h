// The clock and sleep at the operating-system boundary. Every wait and every
// "now" of the programs goes through here so tests can drive time without
// waiting for it.
#pragma once

#include <stdint.h>
#include <time.h>

// Current time in whole seconds, as time() gives it: for what is shown or
// logged, never for a deadline.
time_t os_time();
// Seconds on a clock that a step of the wall clock leaves alone
// (CLOCK_MONOTONIC): what every deadline counts on. 64 bits whatever the C
// library's time_t is.
int64_t os_monotonic();
// Sleeps whole seconds (a sleep(3) that resumes after signals).
void os_sleep(unsigned seconds);

// Test hook: replaces them with the given functions; nullptr restores the
// real clock. Without `monotonic`, `now` stands for both clocks.
struct OsClock {
  time_t (*now)();
  void (*sleep)(unsigned seconds);
  int64_t (*monotonic)() = nullptr;
};
void os_clock_override(const OsClock* clock);
