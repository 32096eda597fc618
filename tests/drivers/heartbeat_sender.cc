// Sends heartbeats of ROUTERS made-up routers, ROUNDS times over, as fast as
// the raw socket takes them: the load generator of bench/collector-throughput.
//   heartbeat_sender TARGET ROUTERS ROUNDS   -> "sent N in S seconds"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "probes/icmp.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: heartbeat_sender TARGET ROUTERS ROUNDS\n");
    return 1;
  }
  struct sockaddr_in to = {};
  to.sin_family = AF_INET;
  if (inet_aton(argv[1], &to.sin_addr) == 0) {
    return 1;
  }
  int routers = atoi(argv[2]);
  int rounds = atoi(argv[3]);
  int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) {
    perror("socket");
    return 1;
  }
  int bytes = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes);

  constexpr int kBatch = 64;
  std::vector<unsigned char> messages(static_cast<size_t>(kBatch) * kIcmpMessageMax);
  struct mmsghdr headers[kBatch];
  struct iovec iov[kBatch];
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long sent = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int first = 0; first < routers; first += kBatch) {
      int n = routers - first < kBatch ? routers - first : kBatch;
      for (int i = 0; i < n; ++i) {
        unsigned char* m = &messages[static_cast<size_t>(i) * kIcmpMessageMax];
        char nasid[32];
        snprintf(nasid, sizeof nasid, "BENCH-%011d", first + i);
        size_t length = icmp_build_probe(m, static_cast<uint16_t>(first + i), nasid);
        struct sysinfo info = {};
        info.uptime = 60 * (round + 1);
        info.loads[0] = 32768;
        info.totalram = 64 << 20;
        info.freeram = 16 << 20;
        info.procs = 40;
        pack_icmp_sysinfo(m, info);
        icmp_seal(m, length);
        iov[i] = {m, length};
        headers[i] = {};
        headers[i].msg_hdr.msg_name = &to;
        headers[i].msg_hdr.msg_namelen = sizeof to;
        headers[i].msg_hdr.msg_iov = &iov[i];
        headers[i].msg_hdr.msg_iovlen = 1;
      }
      for (int done = 0; done < n;) {
        int got = sendmmsg(fd, headers + done, static_cast<unsigned>(n - done), 0);
        if (got < 0) {
          perror("sendmmsg");
          return 1;
        }
        done += got;
      }
      sent += n;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("sent %ld in %.3f seconds\n", sent,
         static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9);
  close(fd);
  return 0;
}
