#include "supervisor/offline_conf.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "build_config.h"
#include "common/unique.h"
#include "config/chillispot_conf.h"
#include "os/log.h"

int chillispot_conf_write_offline(const char* path, const char* nasid) {
  DEBUG("writing offline config\n");
  // Written whole beside the file and renamed over it, like every other
  // replacement of the portal configuration: chilli never reads half a file.
  char side[PATH_MAX];
  int n = snprintf(side, sizeof side, "%s%s", path, kSideSuffix);
  bool fits = n > 0 && static_cast<size_t>(n) < sizeof side;
  UniqueFd fd(fits ? open(side, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1);
  UniqueFile file(fd ? fdopen(fd.get(), "w") : nullptr);
  if (!file) {
    LOG("failed to create config file '%s': %s\n", path, strerror(fits ? errno : ENAMETOOLONG));
    unlink(path);
    return -1;
  }
  fd.release();
  // Private from the first byte: the first portal configuration installed
  // over this one takes over its mode, and it will hold the RADIUS secret.
  chillispot_conf_keep_mode(fileno(file.get()), path);
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
  int error = written < 0 ? errno : 0;
  if (file.close() != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && rename(side, path) != 0) {
    error = errno;
  }
  // A full file system leaves the side file cut short: it is not used, and
  // no earlier (online) configuration stays in force either.
  if (error != 0) {
    LOG("failed to write config file '%s', removed it: %s\n", path, strerror(error));
    unlink(side);
    unlink(path);
    return -1;
  }
  return 0;
}
