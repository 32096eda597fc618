#include "supervisor/portal_config.h"

#include <signal.h>

#include "config/chillispot_conf.h"
#include "portal/portal.h"
#include "portal/status.h"

int portal_config_refresh(const char* url, const char* conf, const char* secret) {
  int result = chillispot_conf_update(url, conf, secret);
  if (result == 1) {
    // chilli reloads before the log says the new file is in force.
    signal_chilli(SIGHUP);
    chillispot_conf_report_installed(conf);
    status_portal_installed();
  }
  return result;
}
