#include "supervisor/control_cycle.h"

#include <signal.h>
#include <stdlib.h>

#include "common/clock.h"
#include "common/unique.h"
#include "config/chillispot_conf.h"
#include "config/spotwarden_conf.h"
#include "probes/radius.h"
#include "os/log.h"
#include "portal/portal.h"
#include "portal/status.h"
#include "supervisor/talkback.h"

namespace {

// Waits from the settings file, taken through spotwarden_conf_seconds():
// never zero, so a fast failure can never turn a loop into a busy one. A
// keeper killed meanwhile is replaced after each.
void pause_for(int seconds) {
  os_sleep(static_cast<unsigned>(seconds));
  respawn_chilli_bg();
}

using radius_probe = int (*)(const char* server, const char* nasid, const char* secret, int retries,
                             int timeout);

// The probes' settings, each wait taken (and logged when unusable) once.
struct radius_schedule {
  int retries;
  int retry_interval;
  int failure_wait;
};

// Probes server 1, then server 2 only when server 1 stays silent, until one
// answers; between rounds shows `failure_page` for the failure wait.
void check_radius(radius_probe probe, const char* server1, const char* server2, const char* nasid,
                  const char* secret, const radius_schedule& schedule, const char* failure_page) {
  repoint_offline_reason(kOfflineReasonLink, kPageStartup);
  status_enter(status_state::radius_check, kPageStartup);
  for (;;) {
    if (probe(server1, nasid, secret, schedule.retries, schedule.retry_interval) == 0 ||
        probe(server2, nasid, secret, schedule.retries, schedule.retry_interval) == 0) {
      return;
    }
    repoint_offline_reason(kOfflineReasonLink, failure_page);
    status_show_page(failure_page);
    pause_for(schedule.failure_wait);
  }
}

[[noreturn]] void go_online(spotwarden_args* args, const char* portal_config_url, const char* webping_query,
                            const spotwarden_conf* settings, const char* secret) {
  {
    UniqueCString server1(chillispot_conf_get_param(args->conf, "radiusserver1"));
    UniqueCString server2(chillispot_conf_get_param(args->conf, "radiusserver2"));
    if (!server1 || !server2) {
      LOG("couldn't read radius servers, skipping radius checks!");
    } else if (settings->radiuscheck == 0) {
      LOG("radius checks disabled in spotwarden.conf");
    } else {
      const radius_schedule schedule = {
          settings->radiuscheck_retries,
          spotwarden_conf_seconds("control_cycle", "radiuscheck_retry_interval", settings->radiuscheck_retry_interval),
          spotwarden_conf_seconds("control_cycle", "radiuscheck_failure_wait", settings->radiuscheck_failure_wait)};
      check_radius(test_radius_acct, server1.get(), server2.get(), args->radiusnasid, secret, schedule,
                   kPageAccountingFailed);
      // Servers that demand a Message-Authenticator drop the plain request.
      radius_probe auth = settings->radiuscheck_message_authenticator != 0 ? test_radius_auth_signed
                                                                           : test_radius_auth;
      check_radius(auth, server1.get(), server2.get(), args->radiusnasid, secret, schedule, kPageAuthFailed);
    }
    remove_offline_reason(kOfflineReasonLink);
  }  // the server names are released before the portal goes online
  LOG("config download and radius checks complete, chilli is online\n");
  os_sleep(2);
  signal_chilli(SIGPWR);
  chilli_online();
  status_enter(status_state::online, nullptr);
  web_talkback(webping_query, portal_config_url, args, settings, secret);
}

}  // namespace

void control_cycle(spotwarden_args* args, const char* settings_url, const char* portal_config_url,
                   const char* webping_query) {
  status_enter(status_state::settings, kPageStartup);
  // Lives as long as the process, like the command-line record.
  const spotwarden_conf* settings = spotwarden_conf_get(settings_url, kSpotwardenConfPath);
  const char* secret = args->radiussecret ? args->radiussecret : settings->radiussecret;
  status_enter(status_state::portal_config, kPageStartup);

  const int retry_interval =
      spotwarden_conf_seconds("control_cycle", "chilliconf_retry_interval", settings->chilliconf_retry_interval);
  const int failure_wait =
      spotwarden_conf_seconds("control_cycle", "chilliconf_failure_wait", settings->chilliconf_failure_wait);
  for (;;) {
    for (int tries = 0; tries < settings->chilliconf_retries; ++tries) {
      if (chillispot_conf_update(portal_config_url, args->conf, secret) == 0) {
        go_online(args, portal_config_url, webping_query, settings, secret);
      }
      repoint_offline_reason(kOfflineReasonLink, kPageUpdateFailed);
      status_show_page(kPageUpdateFailed);
      pause_for(retry_interval);
    }
    pause_for(failure_wait);
  }
}
