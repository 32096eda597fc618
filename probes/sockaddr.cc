#include "probes/sockaddr.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "os/log.h"

int fill_sockaddr(struct sockaddr_in* table, int capacity, int* count, const char* host, int port) {
  for (int i = 0; i < capacity; ++i) {
    memset(&table[i], 0, sizeof table[i]);
    table[i].sin_family = AF_INET;
    table[i].sin_port = htons(static_cast<uint16_t>(port));
  }
  // Linux delivers 0.0.0.0 to this router itself: a probe sent there is
  // answered by whatever listens here, never by the peer it stands for, and
  // would keep the hotspot online with its link gone. No probe goes there.
  struct in_addr quad = {};
  if (inet_aton(host, &quad) != 0) {
    *count = 0;
    if (capacity > 0 && quad.s_addr != htonl(INADDR_ANY)) {
      table[0].sin_addr = quad;
      *count = 1;
    }
    return 0;
  }
  const struct hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addrtype != AF_INET) {
    LOG("%s: unknown host: %s\n", "fill_sockaddr", host);
    return -1;
  }
  int filled = 0;
  for (char* const* a = entry->h_addr_list; filled < capacity && *a != nullptr; ++a) {
    memcpy(&table[filled].sin_addr, *a, sizeof table[filled].sin_addr);
    if (table[filled].sin_addr.s_addr != htonl(INADDR_ANY)) {
      ++filled;
    }
  }
  *count = filled;
  return 0;
}

int set_probe_receive_timeout(int fd, int seconds) {
  struct timeval wait = {};
  wait.tv_sec = seconds > 0 ? seconds : 1;
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}
