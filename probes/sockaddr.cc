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
  if (capacity > 0 && inet_aton(host, &table[0].sin_addr) != 0) {
    *count = 1;
    return 0;
  }
  const struct hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addrtype != AF_INET) {
    LOG("%s: %s: unknown host: %s\n", kProgName, "fill_sockaddr", host);
    return -1;
  }
  int filled = 0;
  while (filled < capacity && entry->h_addr_list[filled] != nullptr) {
    memcpy(&table[filled].sin_addr, entry->h_addr_list[filled], sizeof table[filled].sin_addr);
    ++filled;
  }
  *count = filled;
  return 0;
}

int set_probe_receive_timeout(int fd, int seconds) {
  struct timeval wait = {};
  wait.tv_sec = seconds > 0 ? seconds : 1;
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}
