#include "config/offline_conf.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "build_config.h"
#include "common/side_file.h"
#include "config/chillispot_conf.h"
#include "os/log.h"

int chillispot_conf_write_offline(const char* path, const char* nasid) {
  DEBUG("writing offline config\n");
  // Written whole beside the file and renamed over it, like every other
  // replacement of the portal configuration: chilli never reads half a file.
  SideFile side(path, 0600);
  if (!side.ok()) {
    LOG("failed to create config file '%s': %s\n", path, strerror(side.error()));
    unlink(path);
    return -1;
  }
  // Private from the first byte: the first portal configuration installed
  // over this one takes over its mode, and it will hold the RADIUS secret.
  chillispot_conf_keep_mode(side.fd(), path);
  // The secret is always the default: the real one arrives with the
  // operator's configuration, never in this stop-gap file.
  char text[1024];
  int n = snprintf(text, sizeof text,
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
  const bool fits = n > 0 && static_cast<size_t>(n) < sizeof text;
  if (fits) {
    side.write(text, static_cast<size_t>(n));
  }
  int error = fits ? side.commit() : EOVERFLOW;
  // A full file system leaves the side file cut short: it is not used, and
  // no earlier (online) configuration stays in force either.
  if (error != 0 && !side.in_place()) {
    LOG("failed to write config file '%s', removed it: %s\n", path, strerror(error));
    unlink(path);
    return -1;
  }
  return 0;
}
