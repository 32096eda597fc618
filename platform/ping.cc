// Stand-in for the router's busybox ping, for tests and the demo only.
//   ping [-c COUNT] [-s SIZE] [-W SECS] HOST   echo COUNT times (default 1),
//       busybox-style output: reply lines, statistics, "round-trip
//       min/avg/max = a/b/c ms" when anything came back; exit 0 when a
//       reply came, 1 otherwise.
//   ping -t N [-s SIZE] HOST   sends N echo requests of SIZE payload bytes
//       back to back and returns at once, without waiting for replies: the
//       burst that queues ahead of a timed probe. Prints nothing.
// SIZE is the payload (default 56). Replies are awaited -W seconds (default
// 10, or $PING_WAIT). Needs a raw ICMP socket (root).
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kMaxPayload = 65507 - 8;

struct Options {
  int count = 1;
  int burst = 0;
  int payload = 56;
  int wait_secs = 10;
  const char* host = nullptr;
};

int64_t now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

uint16_t checksum(const uint8_t* p, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) {
    sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
  }
  if (n & 1) {
    sum += static_cast<uint32_t>(p[n - 1] << 8);
  }
  while (sum >> 16) {
    sum = (sum & 0xffff) + (sum >> 16);
  }
  return static_cast<uint16_t>(~sum);
}

// Echo request of `payload` bytes, fields packed big-endian by hand.
size_t build_request(uint8_t* buf, int payload, uint16_t id, uint16_t seq) {
  size_t n = 8 + static_cast<size_t>(payload);
  memset(buf, 0, n);
  buf[0] = 8;
  buf[4] = static_cast<uint8_t>(id >> 8);
  buf[5] = static_cast<uint8_t>(id);
  buf[6] = static_cast<uint8_t>(seq >> 8);
  buf[7] = static_cast<uint8_t>(seq);
  for (size_t i = 8; i < n; ++i) {
    buf[i] = static_cast<uint8_t>(i);
  }
  uint16_t sum = checksum(buf, n);
  buf[2] = static_cast<uint8_t>(sum >> 8);
  buf[3] = static_cast<uint8_t>(sum);
  return n;
}

int usage() {
  fprintf(stderr, "usage: ping [-c COUNT] [-s SIZE] [-t BURST] [-W SECS] HOST\n");
  return 1;
}

// Waits for the reply to `seq` until `deadline_us`; its ttl and size, or -1.
int await_reply(int fd, uint16_t id, uint16_t seq, int64_t deadline_us, int* ttl, int* bytes,
                uint8_t* buf, size_t size) {
  for (;;) {
    int64_t left = deadline_us - now_us();
    if (left <= 0) {
      return -1;
    }
    struct pollfd pfd = {fd, POLLIN, 0};
    int r = poll(&pfd, 1, static_cast<int>((left + 999) / 1000));
    if (r < 0 && errno != EINTR) {
      return -1;
    }
    if (r <= 0) {
      continue;
    }
    ssize_t n = recv(fd, buf, size, 0);
    if (n < 20) {
      continue;
    }
    size_t ihl = static_cast<size_t>(buf[0] & 0x0f) * 4;
    if (static_cast<size_t>(n) < ihl + 8) {
      continue;
    }
    const uint8_t* icmp = buf + ihl;
    uint16_t rid = static_cast<uint16_t>(icmp[4] << 8 | icmp[5]);
    uint16_t rseq = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
    if (icmp[0] == 0 && rid == id && rseq == seq) {
      *ttl = buf[8];
      *bytes = static_cast<int>(static_cast<size_t>(n) - ihl);
      return 0;
    }
  }
}

void print_ms(int64_t us) { printf("%lld.%03lld", static_cast<long long>(us / 1000), static_cast<long long>(us % 1000)); }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* w = getenv("PING_WAIT")) {
    o.wait_secs = atoi(w);
  }
  int c;
  while ((c = getopt(argc, argv, "c:s:t:W:")) != -1) {
    switch (c) {
      case 'c': o.count = atoi(optarg); break;
      case 's': o.payload = atoi(optarg); break;
      case 't': o.burst = atoi(optarg); break;
      case 'W': o.wait_secs = atoi(optarg); break;
      default: return usage();
    }
  }
  if (optind + 1 != argc || o.payload < 0 || o.payload > kMaxPayload || o.count < 1 || o.burst < 0) {
    return usage();
  }
  o.host = argv[optind];

  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  struct addrinfo* ai = nullptr;
  if (getaddrinfo(o.host, nullptr, &hints, &ai) != 0 || !ai) {
    fprintf(stderr, "ping: bad address '%s'\n", o.host);
    return 1;
  }
  struct sockaddr_in to;
  memcpy(&to, ai->ai_addr, sizeof to);
  freeaddrinfo(ai);

  int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) {
    perror("ping: socket");
    return 1;
  }
  static uint8_t buf[65536];
  uint16_t id = static_cast<uint16_t>(getpid());

  if (o.burst > 0) {
    // The whole train must sit in the queue when this returns, so the send
    // buffer may not hold any of it back (fragment headers included).
    int want = o.burst * (o.payload + 8 + ((o.payload + 8) / 1480 + 1) * 64) * 2;
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &want, sizeof want) != 0) {
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &want, sizeof want);
    }
    for (int i = 0; i < o.burst; ++i) {
      size_t n = build_request(buf, o.payload, id, static_cast<uint16_t>(i));
      sendto(fd, buf, n, 0, reinterpret_cast<struct sockaddr*>(&to), sizeof to);
    }
    close(fd);
    return 0;
  }

  int rcvbuf = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf);
  char addr[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &to.sin_addr, addr, sizeof addr);
  printf("PING %s (%s): %d data bytes\n", o.host, addr, o.payload);
  fflush(stdout);
  int received = 0;
  int64_t tmin = 0, tmax = 0, tsum = 0;
  static uint8_t reply[65536];
  for (int seq = 0; seq < o.count; ++seq) {
    size_t n = build_request(buf, o.payload, id, static_cast<uint16_t>(seq));
    int64_t sent = now_us();
    if (sendto(fd, buf, n, 0, reinterpret_cast<struct sockaddr*>(&to), sizeof to) < 0) {
      perror("ping: sendto");
      continue;
    }
    // Like busybox: one second between requests, the wait after the last.
    int64_t deadline = sent + (seq + 1 < o.count ? 1000000 : static_cast<int64_t>(o.wait_secs) * 1000000);
    int ttl = 0, bytes = 0;
    if (await_reply(fd, id, static_cast<uint16_t>(seq), deadline, &ttl, &bytes, reply, sizeof reply) == 0) {
      int64_t t = now_us() - sent;
      printf("%d bytes from %s: seq=%d ttl=%d time=", bytes, addr, seq, ttl);
      print_ms(t);
      printf(" ms\n");
      fflush(stdout);
      tmin = received == 0 || t < tmin ? t : tmin;
      tmax = t > tmax ? t : tmax;
      tsum += t;
      ++received;
      int64_t rest = deadline - now_us();
      if (seq + 1 < o.count && rest > 0) {
        usleep(static_cast<useconds_t>(rest));
      }
    }
  }
  close(fd);
  printf("\n--- %s ping statistics ---\n", o.host);
  printf("%d packets transmitted, %d packets received, %d%% packet loss\n", o.count, received,
         (o.count - received) * 100 / o.count);
  if (received > 0) {
    printf("round-trip min/avg/max = ");
    print_ms(tmin);
    printf("/");
    print_ms(tsum / received);
    printf("/");
    print_ms(tmax);
    printf(" ms\n");
  }
  return received > 0 ? 0 : 1;
}
