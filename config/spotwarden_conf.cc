#include "config/spotwarden_conf.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "build_config.h"
#include "common/clock.h"
#include "common/unique.h"
#include "config/check_config_file.h"
#include "config/text_line.h"
#include "os/log.h"

namespace {

// Decimal value of the text as an int32: leading whitespace, optional sign,
// digits up to the first other character; no digits give 0. Out-of-range
// numbers are clamped rather than left to overflow.
int32_t int_value(const char* text) {
  char* end = nullptr;
  long long v = strtoll(text, &end, 10);
  if (end == text) {
    return 0;
  }
  if (v > INT32_MAX) {
    return INT32_MAX;
  }
  if (v < INT32_MIN) {
    return INT32_MIN;
  }
  return static_cast<int32_t>(v);
}

// Every wait the file set to zero or below becomes 1 second, logged once,
// so that no caller needs to check again.
void apply_ranges(spotwarden_conf* conf) {
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    if (k.wait_of && conf->*k.number < 1) {
      LOG("%s: %s is %d, using 1 second instead", k.wait_of, k.name, conf->*k.number);
      conf->*k.number = 1;
    }
  }
}

void apply(spotwarden_conf* conf, const char* key, const char* value) {
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    if (strcmp(k.name, key) != 0) {
      continue;
    }
    if (k.number) {
      conf->*k.number = int_value(value);
    } else {
      free(conf->*k.text);
      conf->*k.text = strdup_or_die(value, "spotwarden_conf_new");
    }
    return;
  }
  LOG("%s: unknown config key: %s", "spotwarden_conf_parse", key);
}

}  // namespace

#define SW_INT_KEY(field, value) {#field, &spotwarden_conf::field, nullptr, value, nullptr, nullptr}
#define SW_WAIT_KEY(field, value, function) {#field, &spotwarden_conf::field, nullptr, value, nullptr, function}
#define SW_STR_KEY(field, value) {#field, nullptr, &spotwarden_conf::field, 0, value, nullptr}
const spotwarden_conf_key kSpotwardenConfKeys[kSpotwardenConfKeyCount] = {
    SW_INT_KEY(telemetry_setuptime, 120),
    SW_WAIT_KEY(chilliconf_retry_interval, 2, "control_cycle"),
    SW_INT_KEY(chilliconf_retries, 5),
    SW_WAIT_KEY(chilliconf_failure_wait, 30, "control_cycle"),
    SW_WAIT_KEY(chilliconf_update_interval, 14400, "web_talkback"),
    SW_STR_KEY(webping_url, SPOTWARDEN_OPERATOR_SCHEME "://" SPOTWARDEN_OPERATOR_HOST "/ping"),
    SW_WAIT_KEY(webping_interval, 3600, "web_talkback"),
    SW_INT_KEY(radiuscheck, 1),
    SW_WAIT_KEY(radiuscheck_retry_interval, 5, "control_cycle"),
    SW_INT_KEY(radiuscheck_retries, 3),
    SW_WAIT_KEY(radiuscheck_failure_wait, 30, "control_cycle"),
    SW_STR_KEY(radiussecret, nullptr),
    SW_STR_KEY(icmpping_host, SPOTWARDEN_OPERATOR_HOST),
    SW_WAIT_KEY(icmpping_retry_interval, 3, "web_talkback"),
    SW_INT_KEY(icmpping_retries, 2),
    SW_WAIT_KEY(icmpping_failure_wait, 10, "web_talkback"),
    SW_WAIT_KEY(icmpping_interval, 30, "web_talkback"),
    SW_INT_KEY(radiuscheck_message_authenticator, 0),
};
#undef SW_INT_KEY
#undef SW_WAIT_KEY
#undef SW_STR_KEY

void spotwarden_conf_new(spotwarden_conf** out) {
  auto* conf = static_cast<spotwarden_conf*>(calloc(1, sizeof(spotwarden_conf)));
  if (!conf) {
    log_out_of_memory("spotwarden_conf_new");
  }
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    if (k.number) {
      conf->*k.number = k.default_number;
    } else {
      conf->*k.text = k.default_text ? strdup_or_die(k.default_text, "spotwarden_conf_new") : nullptr;
    }
  }
  *out = conf;
}

void spotwarden_conf_free(spotwarden_conf* conf) {
  if (!conf) {
    return;
  }
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    if (k.text) {
      free(conf->*k.text);
    }
  }
  free(conf);
}

int spotwarden_conf_download(const char* url, const char* path) {
  DEBUG("attempting to download spotwarden config file\n");
  // A copy that fails any check goes: its values would otherwise rule the
  // whole life of the process.
  if (checked_download(url, path, kSpotwardenConfName) != 0) {
    unlink(path);
    return -1;
  }
  LOG("retrieved spotwarden config file\n");
  return 0;
}

spotwarden_conf* spotwarden_conf_get(const char* url, const char* path, void (*pause)(unsigned seconds)) {
  spotwarden_conf* conf = nullptr;
  spotwarden_conf_new(&conf);
  int failures = 0;
  while (spotwarden_conf_download(url, path) != 0) {
    if (failures < kConfQuickRetries) {
      ++failures;
      pause(kConfQuickPause);
    } else {
      pause(kConfSlowPause);
    }
  }
  // A copy that vanished since the check leaves the defaults in force.
  spotwarden_conf_parse(conf, path);
  return conf;
}

int spotwarden_conf_parse(spotwarden_conf* conf, const char* path) {
  UniqueFile f(fopen(path, "r"));
  if (!f) {
    LOG("%s: failed to open '%s': %s", "spotwarden_conf_parse", path, strerror(errno));
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
    DEBUG("%s: %s => %s", "spotwarden_conf_parse", key,
          strcmp(key, "radiussecret") == 0 ? kSecretMask : value);
    apply(conf, key, value);
  }
  apply_ranges(conf);
  return 0;
}
