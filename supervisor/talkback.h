// The talkback loop: once the hotspot is online, a one-second tick runs the
// ICMP heartbeat (which switches chilli offline and back online), the web
// ping and the portal configuration refresh, each on its own fixed grid.
#pragma once

#include <stdint.h>

#include "supervisor/args.h"

struct spotwarden_conf;

// Seconds on the jobs' grids, on the monotonic clock (os_monotonic()): a
// wall clock set back would hold every job, the heartbeat too, for as long
// as it was set back. 64 bits, so that a deadline an int32 interval ahead of
// any clock reading fits.
using grid_time = int64_t;

// Moves `*deadline` to the first point of its grid (the old value plus a
// whole number of `interval`s, at least one) that is later than `now`;
// missed points are skipped, not made up. `interval` must be at least 1.
void advance_deadline(grid_time now, grid_time* deadline, int interval);

// One web ping: fetches `url` with wget, throws the answer away and logs the
// outcome. Returns run_wget()'s result.
int web_ping(const char* url);

// Everything the loop works with; filled by talkback_begin().
struct talkback_state {
  const char* query;       // web-ping query, appended to webping_url
  const char* portal_url;  // portal-config URL for the refresh
  const char* nasid;
  const char* conf;        // portal configuration path
  const char* secret;      // RADIUS secret in use, or null
  const spotwarden_conf* settings;
  // The settings' intervals, each at least 1 second.
  int probe_interval;
  int probe_failure_wait;
  int probe_retry_interval;
  int webping_interval;
  int refresh_interval;
  bool online;
  grid_time probe_deadline;
  grid_time webping_deadline;
  grid_time refresh_deadline;
};

// Enters the loop's online state with the first deadlines counted from now.
void talkback_begin(talkback_state* state, const char* query, const char* portal_url,
                    const spotwarden_args* args, const spotwarden_conf* settings, const char* secret);

// One tick: sleeps a second, reads the monotonic clock once, then runs the
// probe, the web ping and the refresh that are due, in that order.
void talkback_tick(talkback_state* state);

