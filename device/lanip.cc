#include "device/lanip.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "common/unique.h"
#include "os/log.h"

namespace {

constexpr const char kFn[] = "getlanip";
constexpr size_t kFirstCapacity = 32;
constexpr size_t kCapacityStep = 16;

}  // namespace

int getlanip(const char* ifname, char* ip) {
  if (ifname == nullptr || ip == nullptr) {
    fprintf(stderr, "%s: ifname or ip NULL!\n", kFn);
    return -1;
  }
  UniqueFd sock(socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock) {
    fprintf(stderr, "%s: socket() failed: %s\n", kFn, strerror(errno));
    return -1;
  }

  UniqueMalloc<char> list;
  struct ifconf conf;
  for (size_t capacity = kFirstCapacity;; capacity += kCapacityStep) {
    size_t offered = capacity * sizeof(struct ifreq);
    list.reset(static_cast<char*>(malloc(offered)));
    if (!list) {
      log_out_of_memory(kFn);
    }
    conf.ifc_len = static_cast<int>(offered);
    conf.ifc_buf = list.get();
    if (ioctl(sock.get(), SIOCGIFCONF, &conf) < 0) {
      fprintf(stderr, "%s: Failed to get interface config: %s\n", kFn, strerror(errno));
      return -1;
    }
    // A full buffer may mean the list was cut off: ask again with more room.
    if (static_cast<size_t>(conf.ifc_len) != offered) {
      break;
    }
  }

  bool found = false;
  size_t length = static_cast<size_t>(conf.ifc_len);
  for (size_t at = 0; at + sizeof(struct ifreq) <= length; at += sizeof(struct ifreq)) {
    struct ifreq record;
    memcpy(&record, list.get() + at, sizeof record);
    if (strncmp(record.ifr_name, ifname, IFNAMSIZ) != 0) {
      continue;
    }
    if (record.ifr_addr.sa_family != AF_INET) {
      fprintf(stderr, "%s: Interface %s not AF_INET\n", kFn, ifname);
      return -1;
    }
    struct sockaddr_in addr;
    memcpy(&addr, &record.ifr_addr, sizeof addr);
    snprintf(ip, kLanIpTextSize, "%s", inet_ntoa(addr.sin_addr));
    found = true;  // keep walking: the last record of the name is the one kept
  }
  return found ? 0 : -1;
}
