#include "config/spotwarden_conf.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "build_config.h"
#include "common/clock.h"
#include "common/unique_fd.h"
#include "config/check_config_file.h"
#include "config/text_line.h"
#include "os/log.h"
#include "os/runner.h"

namespace {

// One key of the settings file and the field it sets: exactly one of the two
// member pointers is set.
struct ConfKey {
  const char* name;
  int32_t spotwarden_conf::*number;
  char* spotwarden_conf::*text;
};

#define SW_INT_KEY(field) {#field, &spotwarden_conf::field, nullptr}
#define SW_STR_KEY(field) {#field, nullptr, &spotwarden_conf::field}
const ConfKey kKeys[] = {
    SW_INT_KEY(telemetry_setuptime),        SW_INT_KEY(chilliconf_retry_interval),
    SW_INT_KEY(chilliconf_retries),         SW_INT_KEY(chilliconf_failure_wait),
    SW_INT_KEY(chilliconf_update_interval), SW_STR_KEY(webping_url),
    SW_INT_KEY(webping_interval),           SW_INT_KEY(radiuscheck),
    SW_INT_KEY(radiuscheck_retry_interval), SW_INT_KEY(radiuscheck_retries),
    SW_INT_KEY(radiuscheck_failure_wait),   SW_STR_KEY(radiussecret),
    SW_STR_KEY(icmpping_host),              SW_INT_KEY(icmpping_retry_interval),
    SW_INT_KEY(icmpping_retries),           SW_INT_KEY(icmpping_failure_wait),
    SW_INT_KEY(icmpping_interval),          SW_INT_KEY(radiuscheck_message_authenticator),
};
#undef SW_INT_KEY
#undef SW_STR_KEY

[[noreturn]] void out_of_memory() {
  LOG("%s: %s: malloc() failed!\n", kProgName, "spotwarden_conf_new");
  abort();
}

char* copy_or_die(const char* text) {
  char* copy = strdup(text);
  if (!copy) {
    out_of_memory();
  }
  return copy;
}

// Decimal value of the text as an int32: leading whitespace, optional sign,
// digits up to the first other character; no digits give 0. Out-of-range
// numbers are clamped rather than left to overflow.
int32_t int_value(const char* text) {
  long long v = strtoll(text, nullptr, 10);
  if (v > INT32_MAX) {
    return INT32_MAX;
  }
  if (v < INT32_MIN) {
    return INT32_MIN;
  }
  return static_cast<int32_t>(v);
}

void apply(spotwarden_conf* conf, const char* key, const char* value) {
  for (const ConfKey& k : kKeys) {
    if (strcmp(k.name, key) != 0) {
      continue;
    }
    if (k.number) {
      conf->*k.number = int_value(value);
    } else {
      free(conf->*k.text);
      conf->*k.text = copy_or_die(value);
    }
    return;
  }
  LOG("%s: %s: unknown config key: %s", kProgName, "spotwarden_conf_parse", key);
}

}  // namespace

void spotwarden_conf_new(spotwarden_conf** out) {
  auto* conf = static_cast<spotwarden_conf*>(calloc(1, sizeof(spotwarden_conf)));
  if (!conf) {
    out_of_memory();
  }
  conf->telemetry_setuptime = 120;
  conf->chilliconf_retry_interval = 2;
  conf->chilliconf_retries = 5;
  conf->chilliconf_failure_wait = 30;
  conf->chilliconf_update_interval = 14400;
  conf->webping_url = copy_or_die(SPOTWARDEN_OPERATOR_SCHEME "://" SPOTWARDEN_OPERATOR_HOST "/ping");
  conf->webping_interval = 3600;
  conf->radiuscheck = 1;
  conf->radiuscheck_retry_interval = 5;
  conf->radiuscheck_retries = 3;
  conf->radiuscheck_failure_wait = 30;
  conf->radiussecret = nullptr;
  conf->icmpping_host = copy_or_die(SPOTWARDEN_OPERATOR_HOST);
  conf->icmpping_retry_interval = 3;
  conf->icmpping_retries = 2;
  conf->icmpping_failure_wait = 10;
  conf->icmpping_interval = 30;
  conf->radiuscheck_message_authenticator = 0;
  *out = conf;
}

int spotwarden_conf_seconds(const char* function, const char* key, int32_t value) {
  if (value >= 1) {
    return value;
  }
  LOG("%s: %s: %s is %d, using 1 second instead", kProgName, function, key, value);
  return 1;
}

void spotwarden_conf_free(spotwarden_conf* conf) {
  if (!conf) {
    return;
  }
  free(conf->icmpping_host);
  free(conf->webping_url);
  free(conf->radiussecret);
  free(conf);
}

int spotwarden_conf_download(const char* url, const char* path) {
  DEBUG("%s: attempting to download spotwarden config file\n", kProgName);
  int status = run_wget(url, path);
  if (check_config_file(path, kSpotwardenConfName) != 0) {
    unlink(path);
    return -1;
  }
  // A transfer cut off mid-file can still pass the first-line check; its
  // values would then rule the whole life of the process.
  if (status != 0) {
    DEBUG("%s: download of '%s' incomplete, wget status %d\n", kProgName, path, status);
    unlink(path);
    return -1;
  }
  LOG("%s: retrieved spotwarden config file\n", kProgName);
  return 0;
}

spotwarden_conf* spotwarden_conf_get(const char* url, const char* path) {
  spotwarden_conf* conf = nullptr;
  spotwarden_conf_new(&conf);
  int failures = 0;
  while (spotwarden_conf_download(url, path) != 0) {
    if (failures < kConfQuickRetries) {
      ++failures;
      os_sleep(kConfQuickPause);
    } else {
      os_sleep(kConfSlowPause);
    }
  }
  // A copy that vanished since the check leaves the defaults in force.
  spotwarden_conf_parse(conf, path);
  return conf;
}

int spotwarden_conf_parse(spotwarden_conf* conf, const char* path) {
  UniqueFile f(fopen(path, "r"));
  if (!f) {
    LOG("%s: %s: failed to open '%s': %s", kProgName, "spotwarden_conf_parse", path, strerror(errno));
    return -1;
  }
  char line[kLinePiece];
  while (fgets(line, sizeof line, f.get())) {
    trim_end(line);
    char* key = skip_space(line);
    if (*key == '\0' || *key == '#') {
      continue;
    }
    char* sep = strpbrk(key, " \t");
    if (!sep || sep[1] == '\0') {
      continue;  // a key without a value
    }
    *sep = '\0';
    const char* value = sep + 1;
    DEBUG("%s: %s: %s => %s", kProgName, "spotwarden_conf_parse", key,
          strcmp(key, "radiussecret") == 0 ? kSecretMask : value);
    apply(conf, key, value);
  }
  return 0;
}
