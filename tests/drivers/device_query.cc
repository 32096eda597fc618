// Test tool (never part of a firmware image): runs the device queries as the
// supervisor would and prints each result, so end-to-end tests can check them
// inside the simulated router against its real interfaces and settings store.
//   device_query IFNAME_FOR_NASID IFNAME_FOR_LANIP
// prints "nasid RC VALUE", "lanip RC VALUE", "ssid RC [VALUE]", "channel RC VALUE".
#include <stdio.h>

#include "device/lanip.h"
#include "device/nasid.h"
#include "device/settings.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: device_query NASID_IF LAN_IF\n");
    return 2;
  }
  char nasid[24] = "-";
  int rc = getnasid(argv[1], nasid);
  printf("nasid %d %s\n", rc, nasid);
  char ip[16] = "-";
  rc = getlanip(argv[2], ip);
  printf("lanip %d %s\n", rc, ip);
  char ssid[64] = {};
  rc = getssid(ssid, sizeof ssid);
  printf("ssid %d [%s]\n", rc, ssid);
  int channel = -1;
  rc = getchannel(&channel);
  printf("channel %d %d\n", rc, channel);
  return 0;
}
