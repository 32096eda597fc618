#include "supervisor/control_cycle.h"

#include "common/clock.h"
#include "config/chillispot_conf.h"
#include "config/spotwarden_conf.h"
#include "os/log.h"
#include "portal/portal.h"
#include "probes/radius.h"
#include "supervisor/hotspot.h"
#include "supervisor/portal_config.h"

namespace {

// Waits from the settings file, at least 1 second as the settings are read:
// a fast failure can never turn a loop into a busy one. A keeper killed
// meanwhile is replaced after each.
void pause_for(unsigned seconds) {
  os_sleep(seconds);
  respawn_chilli_bg();
}

// A RADIUS phase begins on R002, whatever the page before it was.
void begin_radius(control_state* s, control_phase phase) {
  hotspot_enter(status_state::radius_check, kPageStartup);
  s->phase = phase;
}

void go_online(control_state* s) {
  // The server names are released before the portal goes online.
  s->server1.reset();
  s->server2.reset();
  hotspot_enter(status_state::online, nullptr);
  talkback_begin(&s->talkback, s->webping_query, s->portal_config_url, s->args, s->settings, s->secret);
  s->phase = control_phase::online;
}

// A portal configuration is in force: the RADIUS proof of the servers it
// names comes next, unless there is nothing to prove.
void after_portal_config(control_state* s) {
  s->server1.reset(chillispot_conf_get_param(s->args->conf, "radiusserver1"));
  s->server2.reset(chillispot_conf_get_param(s->args->conf, "radiusserver2"));
  if (!s->server1 || !s->server2) {
    LOG("couldn't read radius servers, skipping radius checks!");
    go_online(s);
  } else if (s->settings->radiuscheck == 0) {
    LOG("radius checks disabled in spotwarden.conf");
    go_online(s);
  } else {
    begin_radius(s, control_phase::radius_accounting);
  }
}

void portal_config_step(control_state* s) {
  const spotwarden_conf* c = s->settings;
  if (c->chilliconf_retries <= 0) {
    pause_for(c->chilliconf_failure_wait);  // no try in a round: only its wait
    return;
  }
  if (portal_config_refresh(s->portal_config_url, s->args->conf, s->secret) >= 0) {
    after_portal_config(s);
    return;
  }
  hotspot_enter(status_state::portal_config, kPageUpdateFailed);
  pause_for(c->chilliconf_retry_interval);
  if (++s->failed_tries >= c->chilliconf_retries) {
    s->failed_tries = 0;
    pause_for(c->chilliconf_failure_wait);
  }
}

// Server 1, then server 2 only when server 1 stays silent; when neither
// answers, `failure_page` for the failure wait.
void radius_step(control_state* s) {
  const spotwarden_conf* c = s->settings;
  const bool accounting = s->phase == control_phase::radius_accounting;
  // Servers that demand a Message-Authenticator drop the plain request.
  auto* probe = accounting                                  ? test_radius_acct
                : c->radiuscheck_message_authenticator != 0 ? test_radius_auth_signed
                                                            : test_radius_auth;
  const char* const servers[] = {s->server1.get(), s->server2.get()};
  for (const char* server : servers) {
    if (probe(server, s->args->radiusnasid, s->secret, c->radiuscheck_retries, c->radiuscheck_retry_interval) == 0) {
      status_radius_answered(server);
      if (accounting) {
        begin_radius(s, control_phase::radius_authentication);
      } else {
        go_online(s);
      }
      return;
    }
  }
  const char* failure_page = accounting ? kPageAccountingFailed : kPageAuthFailed;
  hotspot_enter(status_state::radius_check, failure_page);
  pause_for(c->radiuscheck_failure_wait);
}

}  // namespace

void control_begin(control_state* s, spotwarden_args* args, const char* settings_url,
                   const char* portal_config_url, const char* webping_query) {
  s->args = args;
  s->portal_config_url = portal_config_url;
  s->webping_query = webping_query;
  hotspot_enter(status_state::settings, kPageStartup);
  // Lives as long as the process, like the command-line record.
  // The operator's server may stay out of reach for hours; the portal that
  // tells users why must not be lost meanwhile.
  s->settings = spotwarden_conf_get(settings_url, kSpotwardenConfPath, pause_for);
  s->secret = args->radiussecret ? args->radiussecret : s->settings->radiussecret;
  hotspot_enter(status_state::portal_config, kPageStartup);
  s->phase = control_phase::portal_config;
  s->failed_tries = 0;
}

void control_step(control_state* s) {
  switch (s->phase) {
    case control_phase::portal_config:
      portal_config_step(s);
      break;
    case control_phase::radius_accounting:
    case control_phase::radius_authentication:
      radius_step(s);
      break;
    case control_phase::online:
      talkback_tick(&s->talkback);
      break;
  }
}

void control_cycle(spotwarden_args* args, const char* settings_url, const char* portal_config_url,
                   const char* webping_query) {
  control_state state{};
  control_begin(&state, args, settings_url, portal_config_url, webping_query);
  for (;;) {
    control_step(&state);
  }
}
