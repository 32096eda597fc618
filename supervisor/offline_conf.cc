#include "supervisor/offline_conf.h"

#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include "build_config.h"
#include "common/unique.h"
#include "config/chillispot_conf.h"
#include "os/log.h"

int chillispot_conf_write_offline(const char* path, const char* nasid) {
  DEBUG("%s: writing offline config\n", kProgName);
  // Written whole beside the file and renamed over it, like every other
  // replacement of the portal configuration: chilli never reads half a file.
  char side[PATH_MAX];
  int n = snprintf(side, sizeof side, "%s%s", path, kSideSuffix);
  UniqueFile file(n > 0 && static_cast<size_t>(n) < sizeof side ? fopen(side, "w+") : nullptr);
  if (!file) {
    LOG("%s: failed to create config file '%s'\n", kProgName, path);
    unlink(path);
    return -1;
  }
  // The secret is always the default: the real one arrives with the
  // operator's configuration, never in this stop-gap file.
  int written = fprintf(file.get(),
          "offline\n"
          "radiusnasid %s\n"
          "radiusserver1 127.0.0.1\n"
          "radiusserver2 127.0.0.1\n"
          "domain %s\n"
          "radiussecret %s\n"
          "uamsecret %s\n"
          "uamserver https://127.0.0.1/\n"
          "uamanydns\n",
          nasid, SPOTWARDEN_OPERATOR_DOMAIN, kDefaultRadiusSecret, kDefaultRadiusSecret);
  // A full file system leaves the side file cut short: it is not used, and
  // no earlier (online) configuration stays in force either.
  if (file.close() != 0 || written < 0 || rename(side, path) != 0) {
    unlink(side);
    unlink(path);
    return -1;
  }
  return 0;
}
