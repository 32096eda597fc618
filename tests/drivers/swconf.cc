// Test-only driver (never installed, never in a firmware image): runs one
// configuration operation so end-to-end tests exercise the real functions
// against real wget, killall and an HTTP server.
//   swconf get URL PATH              prints the resulting settings, KEY=VALUE
//   swconf update URL PATH [SECRET]  exit status 0 when PATH is current
//   swconf param PATH KEY            prints the value; exit status 1 when unset
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/chillispot_conf.h"
#include "common/clock.h"
#include "config/spotwarden_conf.h"
#include "supervisor/portal_config.h"

namespace {

void print_conf(const spotwarden_conf* c) {
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    if (k.number) {
      printf("%s=%d\n", k.name, static_cast<int>(c->*k.number));
    } else {
      printf("%s=%s\n", k.name, c->*k.text ? c->*k.text : "(null)");
    }
  }
}

int swconf_usage() {
  fputs("usage: swconf get URL PATH | update URL PATH [SECRET] | param PATH KEY\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "get") == 0) {
    spotwarden_conf* conf = spotwarden_conf_get(argv[2], argv[3], os_sleep);
    print_conf(conf);
    spotwarden_conf_free(conf);
    return 0;
  }
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "update") == 0) {
    return portal_config_refresh(argv[2], argv[3], argc == 5 ? argv[4] : nullptr) >= 0 ? 0 : 1;
  }
  if (argc == 4 && strcmp(argv[1], "param") == 0) {
    char* value = chillispot_conf_get_param(argv[2], argv[3]);
    if (!value) {
      return 1;
    }
    printf("%s\n", value);
    free(value);
    return 0;
  }
  return swconf_usage();
}
