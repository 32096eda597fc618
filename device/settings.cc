#include "device/settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/unique.h"

namespace {

constexpr const char kSsidPrefix[] = "ZELVANET";
constexpr size_t kMaxSsid = 23;

// The first line `command` prints (cut to `size` - 1 characters), read once
// the command has ended; false when it cannot be run or prints nothing.
bool first_line_of(const char* command, char* line, int size) {
  UniquePipe pipe(popen(command, "r"));
  return pipe && fgets(line, size, pipe.get()) != nullptr;
}

}  // namespace

int getssid_from(const char* command, char* out, int size) {
  char ssid[64] = {};
  memcpy(ssid, kSsidPrefix, sizeof kSsidPrefix);
  char line[64];
  if (!first_line_of(command, line, sizeof line)) {
    return -1;
  }
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') {
    line[--len] = '\0';
  }
  if (len >= 1 && len <= kMaxSsid) {
    ssid[sizeof kSsidPrefix - 1] = ' ';
    memcpy(ssid + sizeof kSsidPrefix, line, len + 1);
  }
  size_t limit = static_cast<size_t>(size);
  size_t n = strlen(ssid);
  if (n > limit - 1) {
    n = limit - 1;
  }
  memset(out, 0, limit);
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result): n < limit, and out was zeroed
  memcpy(out, ssid, n);
  return 0;
}

int getssid(char* out, int size) { return getssid_from(kSsidCommand, out, size); }

int getchannel_from(const char* command, int* channel) {
  char text[8];
  if (!first_line_of(command, text, sizeof text)) {
    return -1;
  }
  *channel = atoi(text);
  return 0;
}

int getchannel(int* channel) { return getchannel_from(kChannelCommand, channel); }
