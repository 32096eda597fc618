#include "portal/status.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "build_config.h"
#include "common/clock.h"
#include "common/side_file.h"
#include "os/log.h"

namespace {

constexpr const char* kStateNames[] = {"starting", "settings", "portal-config", "radius-check", "online", "offline"};

// Everything the file shows; one record for the life of the process. Times
// are kept as 64-bit seconds so that the file is right past 2038 on a
// 32-bit time_t as well.
struct status_record {
  status_state state = status_state::starting;
  bool entered = false;
  int64_t since = 0;
  const char* page = nullptr;  // one of the page constants, never freed
  int64_t last_heartbeat_ok = 0;
  int64_t last_heartbeat_failed = 0;
  unsigned long heartbeats_ok = 0;
  unsigned long heartbeats_failed = 0;
  unsigned long webpings_ok = 0;
  unsigned long webpings_failed = 0;
  unsigned long portal_updates = 0;
  char radius_server[128] = "";  // empty: none answered yet
  bool heartbeat_unwritten = false;
};

status_record g_status;

void status_write() {
  const status_record& s = g_status;
  char text[1024];
  int n = snprintf(text, sizeof text,
                   "state=%s\nsince=%lld\npage=%s\nlast_heartbeat_ok=%lld\nlast_heartbeat_failed=%lld\n"
                   "heartbeats_ok=%lu\nheartbeats_failed=%lu\nwebpings_ok=%lu\nwebpings_failed=%lu\n"
                   "portal_updates=%lu\nradius_server=%s\npid=%ld\nversion=%s\n",
                   kStateNames[static_cast<int>(s.state)], static_cast<long long>(s.since),
                   s.page ? s.page : "none", static_cast<long long>(s.last_heartbeat_ok),
                   static_cast<long long>(s.last_heartbeat_failed), s.heartbeats_ok, s.heartbeats_failed,
                   s.webpings_ok, s.webpings_failed, s.portal_updates,
                   s.radius_server[0] ? s.radius_server : "none", static_cast<long>(getpid()),
                   kFirmwareRevision);
  // A reader sees the old file or the new one, never half of one.
  SideFile side(kStatusPath, 0644);
  const bool fits = n > 0 && static_cast<size_t>(n) < sizeof text;
  if (fits) {
    side.write(text, static_cast<size_t>(n));
  }
  int error = fits ? side.commit() : EOVERFLOW;
  if (error != 0 && !side.in_place()) {
    DEBUG("%s: cannot write %s: %s", "status_write", kStatusPath, strerror(error));
  }
}

}  // namespace

bool status_same_page(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && strcmp(a, b) == 0);
}

status_shown status_now() { return {g_status.entered, g_status.state, g_status.page}; }

void status_enter(status_state state, const char* page) {
  status_record& s = g_status;
  bool changed = !s.entered || s.state != state;
  if (changed) {
    s.since = static_cast<int64_t>(os_time());
  }
  if (!changed && !s.heartbeat_unwritten && status_same_page(s.page, page)) {
    return;
  }
  s.entered = true;
  s.state = state;
  s.page = page;
  s.heartbeat_unwritten = false;
  status_write();
}

void status_heartbeat(bool ok) {
  status_record& s = g_status;
  (ok ? s.last_heartbeat_ok : s.last_heartbeat_failed) = static_cast<int64_t>(os_time());
  ++(ok ? s.heartbeats_ok : s.heartbeats_failed);
  s.heartbeat_unwritten = true;
}

void status_webping(bool ok) { ++(ok ? g_status.webpings_ok : g_status.webpings_failed); }

void status_portal_installed() { ++g_status.portal_updates; }

void status_radius_answered(const char* server) {
  snprintf(g_status.radius_server, sizeof g_status.radius_server, "%s", server);
}
