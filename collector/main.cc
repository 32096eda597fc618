// heartbeat-collector: receives the routers' ICMP heartbeats on the
// operator's host and serves what they say to Prometheus.
#include <errno.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <httplib.h>

#include <mutex>
#include <thread>

#include "collector/exposition.h"
#include "collector/heartbeat.h"
#include "collector/options.h"
#include "collector/registry.h"
#include "common/unique.h"

namespace {

constexpr int64_t kSweepInterval = 60;
// Linux's ICMP_FILTER of <linux/icmp.h>, which clashes with <net/if.h> that
// the HTTP library includes: a mask of the ICMP types a raw socket drops.
constexpr int kIcmpFilter = 1;

int64_t now_seconds() { return static_cast<int64_t>(time(nullptr)); }

// The raw socket, seeing echo requests only: the kernel still answers them,
// and every other ICMP type stays out of the receive loop.
UniqueFd open_heartbeat_socket() {
  UniqueFd fd(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (!fd) {
    return fd;
  }
  uint32_t dropped_types = ~(1u << ICMP_ECHO);
  if (setsockopt(fd.get(), SOL_RAW, kIcmpFilter, &dropped_types, sizeof dropped_types) != 0) {
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

// With the raw socket and the listening socket open nothing needs a
// privilege any more: root becomes nobody, and whatever capabilities are left
// (a file capability on the program) are cleared.
int drop_privileges() {
  if (geteuid() == 0) {
    const struct passwd* pw = getpwnam("nobody");
    uid_t uid = pw ? pw->pw_uid : 65534;
    gid_t gid = pw ? pw->pw_gid : 65534;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      return -1;
    }
  }
  struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, data) != 0) {
    return -1;
  }
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

struct shared_registry {
  std::mutex lock;
  registry records;
};

[[noreturn]] void receive_loop(int fd, shared_registry* shared, int64_t forget_after) {
  // Larger than any heartbeat, so that a longer datagram is seen as such.
  unsigned char buffer[2048];
  int64_t next_sweep = now_seconds() + kSweepInterval;
  for (;;) {
    ssize_t got = recv(fd, buffer, sizeof buffer, MSG_TRUNC);
    if (got < 0) {
      if (errno != EINTR) {
        perror("heartbeat-collector: recv");
        sleep(1);
      }
      continue;
    }
    heartbeat hb;
    bool good = static_cast<size_t>(got) <= sizeof buffer &&
                heartbeat_decode(buffer, static_cast<size_t>(got), &hb);
    int64_t now = now_seconds();
    std::lock_guard<std::mutex> guard(shared->lock);
    if (good) {
      shared->records.record(hb, now);
    } else {
      shared->records.reject();
    }
    if (now >= next_sweep) {
      shared->records.forget(now, forget_after);
      next_sweep = now + kSweepInterval;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  collector_options options;
  if (collector_options_parse(argc, argv, &options) != 0) {
    fputs(collector_usage(), stderr);
    return 1;
  }
  if (options.help) {
    fputs(collector_usage(), stdout);
    return 0;
  }

  UniqueFd fd = open_heartbeat_socket();
  if (!fd) {
    fprintf(stderr, "heartbeat-collector: raw ICMP socket: %s (needs root or CAP_NET_RAW)\n", strerror(errno));
    return 1;
  }
  httplib::Server server;
  if (!server.bind_to_port(options.host.c_str(), options.port)) {
    fprintf(stderr, "heartbeat-collector: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  if (drop_privileges() != 0) {
    fprintf(stderr, "heartbeat-collector: cannot drop privileges: %s\n", strerror(errno));
    return 1;
  }

  static shared_registry shared;
  const collector_options& o = options;
  // Each answer is rendered from a copy taken under the lock, after the
  // records silent for too long are dropped: with a large fleet rendering
  // takes seconds, copying milliseconds, and heartbeats keep being counted.
  auto serve = [&o](std::string (*render)(const registry&, int64_t, int64_t), const char* type) {
    return [&o, render, type](const httplib::Request&, httplib::Response& res) {
      int64_t now = now_seconds();
      registry snapshot;
      {
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.records.forget(now, o.forget_after);
        snapshot = shared.records;
      }
      res.set_content(render(snapshot, now, o.stale_after), type);
    };
  };
  server.Get("/metrics", serve(metrics_text, "text/plain; version=0.0.4; charset=utf-8"));
  server.Get("/routers", serve(routers_json, "application/json"));

  std::thread receiver(receive_loop, fd.get(), &shared, options.forget_after);
  receiver.detach();
  fprintf(stderr, "heartbeat-collector: listening on %s:%d as uid %d\n", options.host.c_str(), options.port,
          static_cast<int>(getuid()));
  server.listen_after_bind();
  fprintf(stderr, "heartbeat-collector: HTTP server stopped\n");
  return 1;
}
