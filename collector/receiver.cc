#include "collector/receiver.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <new>

#include "collector/heartbeat.h"

namespace {

// Linux's ICMP_FILTER of <linux/icmp.h>, which clashes with <net/if.h> that
// the HTTP library includes: a mask of the ICMP types a raw socket drops.
constexpr int kIcmpFilter = 1;

}  // namespace

UniqueFd open_heartbeat_socket() {
  UniqueFd fd(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (!fd) {
    return fd;
  }
  uint32_t dropped_types = ~(1u << ICMP_ECHO);
  int one = 1;
  if (setsockopt(fd.get(), SOL_RAW, kIcmpFilter, &dropped_types, sizeof dropped_types) != 0 ||
      setsockopt(fd.get(), SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one) != 0) {
    return UniqueFd();
  }
  // Room for bursts (a fleet's heartbeats are not spread evenly); the forced
  // size needs the privilege still held here, the plain one is the fallback.
  int bytes = 8 << 20;
  if (setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  return fd;
}

[[noreturn]] void receive_loop(int fd, shared_registry* shared, int64_t forget_after) {
  // Larger than any heartbeat, so that a longer datagram is seen as such.
  unsigned char buffer[2048];
  alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
  int64_t next_sweep = now_moment().mono + kSweepInterval;
  bool told_no_memory = false;
  for (;;) {
    struct iovec iov = {buffer, sizeof buffer};
    struct msghdr msg = {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got = recvmsg(fd, &msg, MSG_TRUNC);
    if (got < 0) {
      if (errno != EINTR) {
        perror("heartbeat-collector: recv");
        sleep(1);
      }
      continue;
    }
    bool have_drops = false;
    uint32_t drops = 0;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
        memcpy(&drops, CMSG_DATA(c), sizeof drops);
        have_drops = true;
      }
    }
    heartbeat hb;
    // A longer datagram than the buffer keeps its own length in its header:
    // it never decodes.
    heartbeat_verdict verdict = heartbeat_decode(buffer, std::min(static_cast<size_t>(got), sizeof buffer), &hb);
    moment now = now_moment();
    std::lock_guard<std::mutex> guard(shared->lock);
    if (have_drops) {
      shared->records.kernel_dropped(drops);
    }
    // Out of memory the heartbeat is refused like one over the cap, and
    // the receiver goes on: the records already held are still right.
    try {
      if (verdict == heartbeat_verdict::ok) {
        shared->records.record(hb, now);
      } else {
        shared->records.refuse(verdict == heartbeat_verdict::foreign ? refusal::foreign : refusal::malformed);
      }
      if (now.mono >= next_sweep) {
        shared->records.forget(now.mono, forget_after);
        next_sweep = now.mono + kSweepInterval;
      }
    } catch (const std::bad_alloc&) {
      shared->records.refuse(refusal::over_cap);
      if (!told_no_memory) {
        fputs("heartbeat-collector: out of memory: new routers refused\n", stderr);
        told_no_memory = true;
      }
    }
  }
}
