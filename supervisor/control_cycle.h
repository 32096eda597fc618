// The supervisor's life after start-up: the settings, the operator's portal
// configuration, the RADIUS proof, then the talkback loop. One step at a
// time, so that a test drives it with the fake clock as the talkback loop is
// driven; control_cycle() runs the steps for ever.
#pragma once

#include "common/unique.h"
#include "supervisor/args.h"
#include "supervisor/talkback.h"

struct spotwarden_conf;

// Where the cycle stands, in the order the hotspot passes through.
enum class control_phase { portal_config, radius_accounting, radius_authentication, online };

struct control_state {
  spotwarden_args* args;
  const char* portal_config_url;
  const char* webping_query;
  const spotwarden_conf* settings;
  const char* secret;  // the command line's, else the settings'; may be null
  control_phase phase;
  int failed_tries;  // portal configuration downloads failed in this round
  // The RADIUS servers of the installed portal configuration, while proved.
  UniqueCString server1;
  UniqueCString server2;
  talkback_state talkback;
};

// Fetches the settings (trying again on their own 2 + 30-second series until
// a copy passes) and enters the portal configuration phase.
void control_begin(control_state* state, spotwarden_args* args, const char* settings_url,
                   const char* portal_config_url, const char* webping_query);

// One step of the current phase: a portal configuration download and, when
// it fails, the wait it calls for (R003; the failure wait after
// chilliconf_retries of them); one round of a RADIUS probe of both servers
// and, when neither answers, R004 or R005 for the failure wait; online, one
// talkback tick.
void control_step(control_state* state);

// control_begin(), then control_step() for ever.
[[noreturn]] void control_cycle(spotwarden_args* args, const char* settings_url,
                                const char* portal_config_url, const char* webping_query);
