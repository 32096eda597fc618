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
#include "config/spotwarden_conf.h"

namespace {

void print_conf(const spotwarden_conf* c) {
  printf("telemetry_setuptime=%d\n", static_cast<int>(c->telemetry_setuptime));
  printf("chilliconf_retry_interval=%d\n", static_cast<int>(c->chilliconf_retry_interval));
  printf("chilliconf_retries=%d\n", static_cast<int>(c->chilliconf_retries));
  printf("chilliconf_failure_wait=%d\n", static_cast<int>(c->chilliconf_failure_wait));
  printf("chilliconf_update_interval=%d\n", static_cast<int>(c->chilliconf_update_interval));
  printf("webping_url=%s\n", c->webping_url ? c->webping_url : "(null)");
  printf("webping_interval=%d\n", static_cast<int>(c->webping_interval));
  printf("radiuscheck=%d\n", static_cast<int>(c->radiuscheck));
  printf("radiuscheck_retry_interval=%d\n", static_cast<int>(c->radiuscheck_retry_interval));
  printf("radiuscheck_retries=%d\n", static_cast<int>(c->radiuscheck_retries));
  printf("radiuscheck_failure_wait=%d\n", static_cast<int>(c->radiuscheck_failure_wait));
  printf("radiussecret=%s\n", c->radiussecret ? c->radiussecret : "(null)");
  printf("icmpping_host=%s\n", c->icmpping_host ? c->icmpping_host : "(null)");
  printf("icmpping_retry_interval=%d\n", static_cast<int>(c->icmpping_retry_interval));
  printf("icmpping_retries=%d\n", static_cast<int>(c->icmpping_retries));
  printf("icmpping_failure_wait=%d\n", static_cast<int>(c->icmpping_failure_wait));
  printf("icmpping_interval=%d\n", static_cast<int>(c->icmpping_interval));
}

int usage() {
  fputs("usage: swconf get URL PATH | update URL PATH [SECRET] | param PATH KEY\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "get") == 0) {
    spotwarden_conf* conf = spotwarden_conf_get(argv[2], argv[3]);
    print_conf(conf);
    spotwarden_conf_free(conf);
    return 0;
  }
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "update") == 0) {
    return chillispot_conf_update(argv[2], argv[3], argc == 5 ? argv[4] : nullptr) == 0 ? 0 : 1;
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
  return usage();
}
