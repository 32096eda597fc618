#include "probes/icmp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

#include "common/heartbeat_wire.h"
#include "common/unique.h"
#include "probes/sockaddr.h"
#include "os/log.h"

using namespace heartbeat_wire;

namespace {

constexpr char kTooBig[] = "TOOBIG!";

// Milliseconds on the monotonic clock: the remaining wait after a send is
// measured against it, never against a wall clock that may be set.
int64_t monotonic_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int set_receive_wait_ms(int fd, int64_t ms) {
  struct timeval wait = {};
  // 32-bit divisions only: a 64-bit one would link libgcc's helpers (2 KB on
  // the router) for this alone. Waits past 49 days come down in whole steps,
  // a few hundred at most for the longest wait a setting can ask.
  constexpr int64_t kStepMs = 4000000000;
  while (ms >= kStepMs) {
    ms -= kStepMs;
    wait.tv_sec += static_cast<time_t>(kStepMs / 1000);
  }
  const auto rest = static_cast<uint32_t>(ms);
  const uint32_t seconds = rest / 1000;
  const uint32_t microseconds = rest % 1000 * 1000;
  wait.tv_sec += static_cast<time_t>(seconds);
  wait.tv_usec = static_cast<suseconds_t>(microseconds);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

// The raw socket sees every ICMP datagram the router receives (its LAN
// clients' pings, scanners, unreachables, replies to other programs); only
// echo replies can be ours. Where the kernel cannot filter, the acceptance
// test below still tells them apart.
void accept_only_echo_replies(int fd) {
  struct icmp_filter filter;
  filter.data = ~(1U << ICMP_ECHOREPLY);
  setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

}  // namespace

size_t icmp_build_probe(unsigned char message[kIcmpMessageMax], uint16_t id, const char* nasid) {
  memset(message, 0, kIcmpMessageMax);
  message[0] = kEchoRequest;
  put16(message + kIdOffset, id);
  message[kFixedOffset] = 1;
  memcpy(message + kMagicOffset, kMagic, sizeof kMagic);
  size_t n = strlen(nasid);
  if (n > kNasidMax) {
    LOG("%s: nasid is too big to send in ICMP!", "test_ping");
    nasid = kTooBig;
    n = sizeof kTooBig - 1;
  }
  memcpy(message + kNasidOffset, nasid, n + 1);
  size_t length = kNasidOffset + n + 1;
  put16(message + kPayloadLengthOffset, static_cast<uint32_t>(length - kHeaderLength));
  return length;
}

void pack_icmp_sysinfo(unsigned char* message, const struct sysinfo& info) {
  // Unsigned 32-bit arithmetic on purpose: the operator's side expects the
  // low 32 bits of the byte counts, whatever the width of long here.
  uint32_t unit = info.mem_unit;
  uint32_t total = static_cast<uint32_t>(info.totalram);
  uint32_t free_ram = static_cast<uint32_t>(info.freeram);
  if (unit != 0) {
    total *= unit;
    free_ram *= unit;
  }
  put32(message + kUptimeOffset, static_cast<uint32_t>(info.uptime));
  put32(message + kLoadOffset, static_cast<uint32_t>(info.loads[0]));
  put32(message + kRamTotalOffset, total);
  put32(message + kRamFreeOffset, free_ram);
  put16(message + kProcessesOffset, info.procs);
}

void fill_icmp_sysinfo(unsigned char* message) {
  struct sysinfo info;
  if (sysinfo(&info) != 0) {
    LOG("%s: sysinfo() failed: %s", "fill_icmp_sysinfo", strerror(errno));
    memset(message + kTelemetryOffset, 0, kTelemetryLength);
    return;
  }
  pack_icmp_sysinfo(message, info);
}

uint16_t icmp_checksum(const unsigned char* data, size_t length) {
  return static_cast<uint16_t>(~folded_sum(data, length));
}

void icmp_seal(unsigned char* message, size_t length) {
  put16(message + kChecksumOffset, 0);
  put16(message + kChecksumOffset, icmp_checksum(message, length));
}

bool icmp_reply_matches(const unsigned char* datagram, size_t length, uint16_t id) {
  // The magic ends at offset 35, so a shorter datagram cannot carry it.
  if (length < kIpHeaderLength + kMagicOffset + sizeof kMagic) {
    return false;
  }
  const unsigned char* icmp = datagram + kIpHeaderLength;
  return icmp[0] == kEchoReply && get16(icmp + kIdOffset) == id &&
         memcmp(icmp + kMagicOffset, kMagic, sizeof kMagic) == 0;
}

int test_ping(const char* host, const char* nasid, int passes, int timeout) {
  unsigned char message[kIcmpMessageMax];
  uint16_t id = static_cast<uint16_t>(random());
  size_t length = icmp_build_probe(message, id, nasid);

  UniqueFd fd(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (!fd) {
    LOG("%s: socket(): %s", "test_ping", strerror(errno));
    return -1;
  }
  if (set_probe_receive_timeout(fd.get(), timeout) != 0) {
    LOG("%s: setsockopt(): %s", "test_ping", strerror(errno));
    return -1;
  }
  accept_only_echo_replies(fd.get());
  const int64_t wait_ms = static_cast<int64_t>(timeout > 0 ? timeout : 1) * 1000;
  struct sockaddr_in addresses[kIcmpAddressMax];
  int count = 0;
  if (fill_sockaddr(addresses, kIcmpAddressMax, &count, host, 0) != 0) {
    return -1;
  }
  if (count == 0) {
    LOG("%s: WARNING: no A records found for [%s]", "test_ping", host);
  }

  unsigned char reply[kIcmpReplySize];
  for (int pass = 0; pass < passes; ++pass) {
    put16(message + kSequenceOffset, static_cast<uint32_t>(pass));
    for (int i = 0; i < count; ++i) {
      fill_icmp_sysinfo(message);
      icmp_seal(message, length);
      if (sendto(fd.get(), message, length, 0, reinterpret_cast<const struct sockaddr*>(&addresses[i]),
                 sizeof addresses[i]) < 0) {
        LOG("%s: sendto() failed: %s\n", "test_ping", strerror(errno));
        return -1;
      }
      // A datagram that is not our reply must not cost the address its
      // turn: the wait goes on for what is left of the send's timeout.
      const int64_t deadline = monotonic_ms() + wait_ms;
      int error = 0;
      bool shortened = false;
      for (;;) {
        // Cleared so that nothing of an earlier datagram can complete this one.
        memset(reply, 0, sizeof reply);
        ssize_t got = recv(fd.get(), reply, sizeof reply, 0);
        if (got < 0) {
          error = errno;
          break;
        }
        if (icmp_reply_matches(reply, static_cast<size_t>(got), id)) {
          return 0;
        }
        DEBUG("%s: incorrect length or magic in ping response", "test_ping");
        const int64_t left = deadline - monotonic_ms();
        if (left <= 0) {
          error = EAGAIN;
          break;
        }
        if (set_receive_wait_ms(fd.get(), left) != 0) {
          LOG("%s: setsockopt(): %s", "test_ping", strerror(errno));
          return -1;
        }
        shortened = true;
      }
      // The next send waits its whole timeout again.
      if (shortened && set_receive_wait_ms(fd.get(), wait_ms) != 0) {
        LOG("%s: setsockopt(): %s", "test_ping", strerror(errno));
        return -1;
      }
      if (error == EINTR) {
        LOG("%s: recv() interrupted by signal, retrying", "test_ping");
      } else if (error == EAGAIN || error == EWOULDBLOCK) {
        LOG("%s: no reply received for ping packet to %s", "test_ping",
            inet_ntoa(addresses[i].sin_addr));
      } else {
        LOG("%s: recv() error: %s", "test_ping", strerror(error));
        return -1;
      }
    }
  }
  return -1;
}
