#include "supervisor/talkback.h"

#include <stdio.h>
#include <string.h>

#include "common/clock.h"
#include "config/spotwarden_conf.h"
#include "probes/icmp.h"
#include "os/log.h"
#include "portal/portal.h"
#include "os/runner.h"
#include "portal/status.h"
#include "supervisor/hotspot.h"
#include "supervisor/portal_config.h"

void advance_deadline(grid_time now, grid_time* deadline, int interval) {
  grid_time d = *deadline;
  if (d < now) {
    // Whole intervals skipped, with 32-bit divisions only (a 64-bit one
    // links libgcc's helpers, 2 KB on the router): a gap past 136 years
    // first comes down in steps of whole intervals.
    const auto step = static_cast<uint32_t>(interval);
    const uint32_t big_step = UINT32_MAX / step * step;
    while (now - d > static_cast<grid_time>(UINT32_MAX)) {
      d += big_step;
    }
    const uint32_t skipped = static_cast<uint32_t>(now - d) / step * step;
    d += skipped;
  }
  if (d <= now) {
    d += interval;
  }
  *deadline = d;
}

int web_ping(const char* url) {
  int result = run_wget(url, nullptr);
  LOG("web ping %s\n", result == 0 ? "successful" : "failed");
  status_webping(result == 0);
  return result;
}

void talkback_begin(talkback_state* s, const char* query, const char* portal_url, const spotwarden_args* args,
                    const spotwarden_conf* settings, const char* secret) {
  s->query = query;
  s->portal_url = portal_url;
  s->nasid = args->radiusnasid;
  s->conf = args->conf;
  s->secret = secret;
  s->settings = settings;
  s->probe_interval = settings->icmpping_interval;
  s->probe_failure_wait = settings->icmpping_failure_wait;
  s->probe_retry_interval = settings->icmpping_retry_interval;
  s->webping_interval = settings->webping_interval;
  s->refresh_interval = settings->chilliconf_update_interval;

  s->online = true;
  DEBUG("starting web talkback\n");
  const grid_time start = os_monotonic();
  s->probe_deadline = start + settings->telemetry_setuptime;
  s->webping_deadline = start + settings->telemetry_setuptime;
  s->refresh_deadline = start + settings->telemetry_setuptime + s->refresh_interval;
}

void talkback_tick(talkback_state* s) {
  const spotwarden_conf* conf = s->settings;
  os_sleep(1);
  respawn_chilli_bg();
  const grid_time now = os_monotonic();

  if (s->probe_deadline < now) {
    if (test_ping(conf->icmpping_host, s->nasid, conf->icmpping_retries, s->probe_retry_interval) != 0) {
      advance_deadline(now, &s->probe_deadline, s->probe_failure_wait);
      status_heartbeat(false);
      hotspot_enter(status_state::offline, kPageProbeLost);
      if (s->online) {
        s->online = false;
        LOG("router offline - can't ping %s", conf->icmpping_host);
      }
    } else {
      advance_deadline(now, &s->probe_deadline, s->probe_interval);
      status_heartbeat(true);
      hotspot_enter(status_state::online, nullptr);
      if (!s->online) {
        s->online = true;
        LOG("router online - successful ping to %s", conf->icmpping_host);
      }
    }
  }

  // Deadlines move before the online test: what falls due while offline is
  // skipped, not made up later.
  if (s->webping_deadline < now) {
    advance_deadline(now, &s->webping_deadline, s->webping_interval);
    if (s->online) {
      char url[512];
      snprintf(url, sizeof url, "%s%s", conf->webping_url ? conf->webping_url : "", s->query);
      web_ping(url);
    }
  }

  if (s->refresh_deadline < now) {
    advance_deadline(now, &s->refresh_deadline, s->refresh_interval);
    if (s->online) {
      portal_config_refresh(s->portal_url, s->conf, s->secret);
    }
  }
}
