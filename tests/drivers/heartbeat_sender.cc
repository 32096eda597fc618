// Sends heartbeats of ROUTERS made-up routers, ROUNDS times over, as fast as
// the raw socket takes them: the load generator of bench/collector-throughput
// and the hostile traffic of the collector's scenario.
//   heartbeat_sender TARGET ROUTERS ROUNDS [forged SOURCES | malformed | from FIRST]
//     -> "sent N in S seconds"
// forged: each from one of SOURCES forged addresses in 198.18.128.0/17, with
// identifiers "FORGED-..."; malformed: every checksum broken; from: the
// identifiers numbered from FIRST, so that several collectors' shares of one
// fleet stay distinct routers.
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
  bool forged = argc == 6 && strcmp(argv[4], "forged") == 0;
  bool malformed = argc == 5 && strcmp(argv[4], "malformed") == 0;
  bool numbered = argc == 6 && strcmp(argv[4], "from") == 0;
  if (argc != 4 && !forged && !malformed && !numbered) {
    fprintf(stderr, "usage: heartbeat_sender TARGET ROUTERS ROUNDS [forged SOURCES | malformed | from FIRST]\n");
    return 1;
  }
  uint32_t sources = forged ? static_cast<uint32_t>(atoi(argv[5])) : 1;
  if (sources < 1 || sources > 32767) {
    return 1;
  }
  struct sockaddr_in to = {};
  to.sin_family = AF_INET;
  if (inet_aton(argv[1], &to.sin_addr) == 0) {
    return 1;
  }
  int routers = atoi(argv[2]);
  int rounds = atoi(argv[3]);
  const int base = numbered ? atoi(argv[5]) : 0;
  int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) {
    perror("socket");
    return 1;
  }
  int bytes = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes);
  int one = 1;
  if (forged && setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &one, sizeof one) != 0) {
    perror("IP_HDRINCL");
    return 1;
  }
  // With IP_HDRINCL the message follows a header written here; the kernel
  // fills in its checksum.
  const size_t ip = forged ? 20 : 0;

  constexpr int kBatch = 64;
  const size_t slot = 20 + kIcmpMessageMax;
  std::vector<unsigned char> messages(static_cast<size_t>(kBatch) * slot);
  struct mmsghdr headers[kBatch];
  struct iovec iov[kBatch];
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long sent = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int first = 0; first < routers; first += kBatch) {
      int n = routers - first < kBatch ? routers - first : kBatch;
      for (int i = 0; i < n; ++i) {
        unsigned char* header = &messages[static_cast<size_t>(i) * slot];
        unsigned char* m = header + ip;
        char nasid[32];
        snprintf(nasid, sizeof nasid, forged ? "FORGED-%010d" : "BENCH-%011d", base + first + i);
        size_t length = icmp_build_probe(m, static_cast<uint16_t>(first + i), nasid);
        struct sysinfo info = {};
        info.uptime = 60 * (round + 1);
        info.loads[0] = 32768;
        info.totalram = 64 << 20;
        info.freeram = 16 << 20;
        info.procs = 40;
        pack_icmp_sysinfo(m, info);
        icmp_seal(m, length);
        if (malformed) {
          m[2] ^= 0x5A;
        }
        if (forged) {
          uint32_t from = htonl(0xC6128000u + static_cast<uint32_t>(first + i) % sources);  // 198.18.128.0 + n
          size_t total = ip + length;
          memset(header, 0, ip);
          header[0] = 0x45;
          header[2] = static_cast<unsigned char>(total >> 8);
          header[3] = static_cast<unsigned char>(total);
          header[8] = 64;
          header[9] = IPPROTO_ICMP;
          memcpy(header + 12, &from, 4);
          memcpy(header + 16, &to.sin_addr, 4);
        }
        iov[i] = {header, ip + length};
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
