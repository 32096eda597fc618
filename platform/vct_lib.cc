// Stand-in for the router's libvct: the port state is the interface's real
// link state in /sys/class/net, so taking a link down is seen.
#include <stdio.h>
#include <string.h>

#include "vct.h"

namespace {

// First word of /sys/class/net/IFNAME/FILE into buf; 0 or -1.
int read_attr(const char* ifname, const char* file, char* buf, size_t size) {
  char path[128];
  snprintf(path, sizeof path, "/sys/class/net/%s/%s", ifname, file);
  FILE* f = fopen(path, "r");
  if (!f) {
    return -1;
  }
  int ok = fgets(buf, static_cast<int>(size), f) != nullptr;
  fclose(f);
  if (!ok) {
    return -1;
  }
  buf[strcspn(buf, "\n")] = '\0';
  return 0;
}

}  // namespace

int VCTGetPortConnectState(const char* ifname, int /*port*/, char* state) {
  char operstate[32];
  char carrier[8];
  // A name with '/' would leave the interface directory.
  bool up = ifname && ifname[0] && !strchr(ifname, '/') &&
            read_attr(ifname, "operstate", operstate, sizeof operstate) == 0 &&
            (strcmp(operstate, "up") == 0 || strcmp(operstate, "unknown") == 0) &&
            read_attr(ifname, "carrier", carrier, sizeof carrier) == 0 && strcmp(carrier, "1") == 0;
  strcpy(state, up ? "connect" : "disconnect");
  return up ? 0 : -1;
}
