// The supervisor's own settings: built-in defaults, overridden by the file
// the operator serves.
#pragma once

#include <stddef.h>
#include <stdint.h>

// One field per key of the settings file, named like the key. The record
// owns its strings (heap copies or null).
struct spotwarden_conf {
  int32_t telemetry_setuptime;
  int32_t chilliconf_retry_interval;
  int32_t chilliconf_retries;
  int32_t chilliconf_failure_wait;
  int32_t chilliconf_update_interval;
  char* webping_url;
  int32_t webping_interval;
  int32_t radiuscheck;
  int32_t radiuscheck_retry_interval;
  int32_t radiuscheck_retries;
  int32_t radiuscheck_failure_wait;
  char* radiussecret;
  char* icmpping_host;
  int32_t icmpping_retry_interval;
  int32_t icmpping_retries;
  int32_t icmpping_failure_wait;
  int32_t icmpping_interval;
  // Not 0: the authentication probe carries a Message-Authenticator.
  int32_t radiuscheck_message_authenticator;
};

// One key of the settings file: its name, the field it sets (exactly one of
// the two member pointers is set), its built-in default and, for a wait or a
// period, the function that takes it. The parser, the defaults, the test
// driver's printout and the manual page's test all walk the one table below.
struct spotwarden_conf_key {
  const char* name;
  int32_t spotwarden_conf::*number;
  char* spotwarden_conf::*text;
  int32_t default_number;
  const char* default_text;  // a text key's default; null: none
  // Not null for a wait or a period in seconds: zero or below would turn a
  // loop into a busy one (or divide by zero on a grid), so such a value is
  // read as 1 second, logged once as a matter of that function.
  const char* wait_of;
};
inline constexpr size_t kSpotwardenConfKeyCount = 18;
extern const spotwarden_conf_key kSpotwardenConfKeys[kSpotwardenConfKeyCount];

// Where the downloaded settings are kept, and the name their first line carries.
inline constexpr const char kSpotwardenConfPath[] = "/var/run/spotwarden.conf";
inline constexpr const char kSpotwardenConfName[] = "spotwarden.conf";

// Pauses after failed downloads: kConfQuickRetries of kConfQuickPause
// seconds, then kConfSlowPause seconds for ever.
inline constexpr int kConfQuickRetries = 5;
inline constexpr unsigned kConfQuickPause = 2;
inline constexpr unsigned kConfSlowPause = 30;

// Stores a new record with the defaults through `out`; aborts when out of memory.
void spotwarden_conf_new(spotwarden_conf** out);

// Downloads `url` to `path` until a copy passes the check, then returns the
// defaults overridden by that copy. Never returns null, never gives up.
// `pause` waits the given seconds between tries: the caller's way of waiting,
// which may keep other things alive meanwhile.
spotwarden_conf* spotwarden_conf_get(const char* url, const char* path, void (*pause)(unsigned seconds));

// One download attempt: 0 when the copy at `path` passed the check, -1
// otherwise (the copy is then removed).
int spotwarden_conf_download(const char* url, const char* path);

// Applies the settings of the file at `path`, each wait at least 1 second:
// 0 when read to its end, -1 when it cannot be opened (the record is then
// untouched).
int spotwarden_conf_parse(spotwarden_conf* conf, const char* path);

// Releases the record and its strings; null is allowed.
void spotwarden_conf_free(spotwarden_conf* conf);
