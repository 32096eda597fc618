#include "supervisor/requests.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/unique.h"
#include "device/urlencode.h"
#include "os/log.h"

void request_strings_build(const char* nasid, const char* ssid, int channel, RequestStrings* out) {
  // Room for every character escaped, so the identifier is never cut.
  size_t nasid_room = strlen(nasid) * 3 + 1;
  UniqueCString encoded_nasid(static_cast<char*>(malloc(nasid_room)));
  if (!encoded_nasid) {
    log_out_of_memory(nullptr);
  }
  urlencode(nasid, encoded_nasid.get(), static_cast<int>(nasid_room));
  char encoded_ssid[192];
  urlencode(ssid, encoded_ssid, sizeof encoded_ssid);

  snprintf(out->settings_url, sizeof out->settings_url, "%s?nasid=%s&model=%s&fwrev=%s",
           kSettingsBaseUrl, encoded_nasid.get(), kDeviceModel, kFirmwareRevision);
  snprintf(out->portal_config_url, sizeof out->portal_config_url, "%s?nasid=%s&model=%s&fwrev=%s",
           kPortalConfigBaseUrl, encoded_nasid.get(), kDeviceModel, kFirmwareRevision);
  snprintf(out->webping_query, sizeof out->webping_query,
           "?nasid=%s&model=%s&fwrev=%s&ssid=%s&channel=%d", encoded_nasid.get(), kDeviceModel,
           kFirmwareRevision, encoded_ssid, channel);
}
