// The supervisor's status file: what the router's web page or a support
// engineer reads with cat. Replaced whole (side file and rename) on every
// change of state or page and after every heartbeat; counters that move in
// between are written with the next of those. No secrets in it.
#pragma once

inline constexpr const char kStatusPath[] = "/var/run/spotwarden.status";

enum class status_state { starting, settings, portal_config, radius_check, online, offline };

// Enters `state` with `page` (the offline-reason page shown, or nullptr for
// none); writes the file when either changed.
void status_enter(status_state state, const char* page);
// The offline-reason page changed within the same state; writes the file.
void status_show_page(const char* page);
// One heartbeat probe ended and left the loop in `state` with `page`;
// stamps it and writes the file once.
void status_heartbeat(bool ok, status_state state, const char* page);

// Counted only, written with the next write.
void status_webping(bool ok);
void status_portal_installed();
void status_radius_answered(const char* server);

