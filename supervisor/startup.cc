#include "supervisor/startup.h"

#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include "common/clock.h"
#include "device/settings.h"
#include "os/log.h"
#include "config/offline_conf.h"
#include "portal/portal.h"
#include "supervisor/hotspot.h"

int spotwarden_startup(int argc, char* const argv[], StartupState* state) {
  char ssid[64] = {};
  int channel = -1;

  LOG("starting up\n");
  // Started with SIGCHLD ignored (a parent can hand that down through
  // exec), the kernel would reap every child itself and no run's exit
  // status could ever be read.
  signal(SIGCHLD, SIG_DFL);
  // The probes draw their identifiers and authenticators from random().
  srandom(static_cast<unsigned>(os_time()));

  if (spotwarden_args_parse(&state->args, argc, argv) != 0) {
    return -1;
  }
  // Unreadable values keep their initial ones: channel -1, empty SSID.
  getchannel(&channel);
  getssid(ssid, sizeof ssid);

  const spotwarden_args* args = state->args;
  request_strings_build(args->radiusnasid, ssid, channel, &state->requests);
  DEBUG("radius nasid is: %s\n", args->radiusnasid);

  chillispot_conf_write_offline(args->conf, args->radiusnasid);
  hotspot_enter(status_state::starting, kPageStartup);
  run_chilli_bg(args->chilli_argv);
  return 0;
}
