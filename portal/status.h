// The supervisor's status file: what the router's web page or a support
// engineer reads with cat. Replaced whole (side file and rename) on every
// change of state or page and after every heartbeat; counters that move in
// between are written with the next of those. No secrets in it.
#pragma once

inline constexpr const char kStatusPath[] = "/var/run/spotwarden.status";

enum class status_state { starting, settings, portal_config, radius_check, online, offline };

// What the file shows: before the first status_enter(), starting with no
// page and `entered` false.
struct status_shown {
  bool entered;
  status_state state;
  const char* page;  // nullptr: none
};
status_shown status_now();

// Pages are the same when their texts are, whichever constant holds them.
bool status_same_page(const char* a, const char* b);

// Enters `state` with `page` (the offline-reason page shown, or nullptr for
// none); writes the file when either changed or a heartbeat came since.
void status_enter(status_state state, const char* page);
// One heartbeat probe ended: stamped and counted now, and the next
// status_enter() writes the file whatever else changed.
void status_heartbeat(bool ok);

// Counted only, written with the next write.
void status_webping(bool ok);
void status_portal_installed();
void status_radius_answered(const char* server);

