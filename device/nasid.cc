#include "device/nasid.h"

#include <errno.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include "common/unique.h"

namespace {
constexpr const char kFn[] = "getnasid";
}  // namespace

int nasid_from_hwaddr(const char* ifname, const struct sockaddr& hwaddr, char* nasid) {
  if (hwaddr.sa_family != ARPHRD_ETHER) {
    fprintf(stderr, "%s: %s is not an ethernet interface!\n", kFn, ifname);
    return -1;
  }
  const unsigned char* mac = reinterpret_cast<const unsigned char*>(hwaddr.sa_data);
  if (mac[0] & 0x01) {
    fprintf(stderr, "%s: interface %s has broadcast address!\n", kFn, ifname);
    return -1;
  }
  snprintf(nasid, kNasidTextSize, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  return 0;
}

int getnasid(const char* ifname, char* nasid) {
  if (ifname == nullptr || nasid == nullptr) {
    fprintf(stderr, "%s: ifname or nasid NULL!\n", kFn);
    return -1;
  }
  UniqueFd sock(socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock) {
    fprintf(stderr, "%s: socket() failed: %s\n", kFn, strerror(errno));
    return -1;
  }
  struct ifreq req;
  memset(&req, 0, sizeof req);
  // A name of IFNAMSIZ bytes or more is cut and left unterminated, as the
  // kernel's field allows.
  size_t len = strlen(ifname);
  memcpy(req.ifr_name, ifname, len < IFNAMSIZ ? len : IFNAMSIZ);
  int rc = ioctl(sock.get(), SIOCGIFHWADDR, &req);
  int saved = errno;
  sock.reset();
  if (rc < 0) {
    fprintf(stderr, "%s: Failed to get hardware address of: %s: %s\n", kFn, ifname, strerror(saved));
    return -1;
  }
  return nasid_from_hwaddr(ifname, req.ifr_hwaddr, nasid);
}
