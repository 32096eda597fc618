// spotwarden: supervisor of the router's captive-portal hotspot.
#include <stdlib.h>
#include <syslog.h>

#include "os/log.h"
#include "supervisor/args.h"
#include "supervisor/control_cycle.h"
#include "supervisor/startup.h"

int main(int argc, char** argv) {
  // glibc names the program in each log line by itself, musl only when told.
  openlog(kProgName, 0, LOG_USER);
  static StartupState state;
  if (spotwarden_startup(argc, argv, &state) != 0) {
    usage();
    return 1;
  }
  control_cycle(state.args, state.requests.settings_url, state.requests.portal_config_url,
                state.requests.webping_query);
}
