// The three request strings, built once at start-up, from which every later
// HTTP request to the operator's server is made.
#pragma once

#include "build_config.h"

inline constexpr const char kSettingsBaseUrl[] =
    SPOTWARDEN_OPERATOR_SCHEME "://" SPOTWARDEN_OPERATOR_HOST "/config/spotwarden.conf";
inline constexpr const char kPortalConfigBaseUrl[] =
    SPOTWARDEN_OPERATOR_SCHEME "://" SPOTWARDEN_OPERATOR_HOST "/config/chilli.conf";

// Each string is cut at 511 characters.
struct RequestStrings {
  char settings_url[512];
  char portal_config_url[512];
  char webping_query[512];
};

// Fills `out` from the NAS identifier and SSID (both URL-encoded here) and
// the channel (-1 when it could not be read).
void request_strings_build(const char* nasid, const char* ssid, int channel, RequestStrings* out);
