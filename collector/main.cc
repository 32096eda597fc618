// heartbeat-collector: receives the routers' ICMP heartbeats on the
// operator's host and serves what they say to Prometheus.
#include <errno.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "collector/body_cache.h"
#include "collector/exposition.h"
#include "collector/heartbeat.h"
#include "collector/options.h"
#include "collector/process_stats.h"
#include "collector/registry.h"
#include "collector/state_file.h"
#include "collector/web_config.h"
#include "common/unique.h"

#ifndef SW_VERSION
#define SW_VERSION "unknown"
#endif

namespace {

constexpr int kSweepInterval = 60;  // seconds; also how often the state file is written
// Linux's ICMP_FILTER of <linux/icmp.h>, which clashes with <net/if.h> that
// the HTTP library includes: a mask of the ICMP types a raw socket drops.
constexpr int kIcmpFilter = 1;
// The HTTP side: requests served at once, connections waiting for a worker
// (more wait in the listening socket's backlog), and how long a client may
// take for each read of its request. A slow client holds one worker for
// that long at most per read; the rest keep serving scrapes.
constexpr size_t kWorkers = 16;
constexpr size_t kQueued = 64;
constexpr time_t kReadTimeout = 2;
constexpr time_t kWriteTimeout = 10;
constexpr int64_t kRenderIntervalMs = 1000;

int64_t clock_ms(clockid_t id) {
  struct timespec t = {};
  clock_gettime(id, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

moment now_moment() { return {clock_ms(CLOCK_MONOTONIC) / 1000, clock_ms(CLOCK_REALTIME) / 1000}; }

// The raw socket, seeing echo requests only: the kernel still answers them,
// and every other ICMP type stays out of the receive loop. Each datagram
// comes with the socket's count of datagrams dropped for want of room.
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
  explicit shared_registry(registry_limits limits) : records(limits) {}
  std::mutex lock;
  registry records;
};

// The records silent too long are dropped, then a copy is taken: with a
// large fleet rendering takes seconds, copying milliseconds, and heartbeats
// keep being counted meanwhile.
fleet_snapshot take_snapshot(shared_registry* shared, int64_t forget_after) {
  moment now = now_moment();
  std::lock_guard<std::mutex> guard(shared->lock);
  shared->records.forget(now.mono, forget_after);
  return shared->records.snapshot(now);
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

// The HTTP library's worker threads with a bounded queue: once it is full
// the accepting thread waits, and new connections wait in the kernel.
class bounded_pool final : public httplib::TaskQueue {
 public:
  bounded_pool(size_t workers, size_t max_queued) : max_queued_(max_queued) {
    for (size_t i = 0; i < workers; ++i) {
      threads_.emplace_back([this] { work(); });
    }
  }

  void enqueue(std::function<void()> fn) override {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return jobs_.size() < max_queued_ || shutdown_; });
    jobs_.push_back(std::move(fn));
    ready_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shutdown_ = true;
    }
    ready_.notify_all();
    room_.notify_all();
    for (std::thread& t : threads_) {
      t.join();
    }
  }

 private:
  void work() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !jobs_.empty() || shutdown_; });
        if (jobs_.empty()) {
          return;
        }
        fn = std::move(jobs_.front());
        jobs_.pop_front();
        room_.notify_one();
      }
      try {
        fn();
      } catch (const std::exception& e) {
        fprintf(stderr, "heartbeat-collector: request: %s\n", e.what());
      }
    }
  }

  size_t max_queued_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<std::function<void()>> jobs_;
  bool shutdown_ = false;
};

// Serves a cached body, gzip when the client takes it and plain otherwise.
// The body goes out through a content provider of known length, which the
// HTTP library sends as it is: it never compresses it again (with brotli at
// its slowest, if the client asked for that).
httplib::Server::Handler serve_cached(body_cache* cache, const char* type) {
  return [cache, type](const httplib::Request& req, httplib::Response& res) {
    bool gzip = accepts_gzip(req.get_header_value("Accept-Encoding"));
    std::shared_ptr<const std::string> body;
    try {
      body = cache->get(gzip);
    } catch (const std::bad_alloc&) {
      res.status = 503;
      return;
    }
    if (gzip) {
      res.set_header("Content-Encoding", "gzip");
    }
    res.set_header("Vary", "Accept-Encoding");
    res.set_content_provider(body->size(), type,
                             [body](size_t offset, size_t length, httplib::DataSink& sink) {
                               return sink.write(body->data() + offset, length);
                             });
  };
}

int read_text(const std::string& path, std::string* out) {
  std::ifstream in(path);
  if (!in) {
    return -1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return 0;
}

int load_allow_list(const std::string& path, shared_registry* shared) {
  std::unordered_set<std::string> allowed;
  std::string why;
  if (allow_list_load(path, &allowed, &why) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s\n", path.c_str(), why.c_str());
    return -1;
  }
  size_t count = allowed.size();
  std::lock_guard<std::mutex> guard(shared->lock);
  shared->records.allow(std::move(allowed));
  fprintf(stderr, "heartbeat-collector: %s: %zu NAS identifiers allowed\n", path.c_str(), count);
  return 0;
}

void save_state(const std::string& path, shared_registry* shared, int64_t forget_after) {
  if (path.empty()) {
    return;
  }
  if (state_save(take_snapshot(shared, forget_after), path) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s\n", path.c_str(), strerror(errno));
  }
}

// Signals are taken here, one at a time, never in a handler: SIGHUP rereads
// the allow list, SIGTERM and SIGINT write the state file and end the
// program; every minute the state file is written anyway.
[[noreturn]] void signal_loop(sigset_t signals, const collector_options* o, shared_registry* shared) {
  for (;;) {
    struct timespec wait = {kSweepInterval, 0};
    int signal = sigtimedwait(&signals, nullptr, &wait);
    if (signal == SIGHUP) {
      if (!o->allow_file.empty()) {
        load_allow_list(o->allow_file, shared);
      }
    } else if (signal == SIGTERM || signal == SIGINT) {
      save_state(o->state_file, shared, o->forget_after);
      fprintf(stderr, "heartbeat-collector: stopped by signal %d\n", signal);
      _exit(0);
    } else if (signal < 0 && errno == EAGAIN) {
      save_state(o->state_file, shared, o->forget_after);
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
  const collector_options& o = options;
  int64_t started = clock_ms(CLOCK_REALTIME) / 1000;

  web_config web;
  if (!o.web_config_file.empty()) {
    std::string text, why;
    if (read_text(o.web_config_file, &text) != 0 || web_config_parse(text, &web, &why) != 0) {
      fprintf(stderr, "heartbeat-collector: %s: %s\n", o.web_config_file.c_str(),
              why.empty() ? strerror(errno) : why.c_str());
      return 1;
    }
  }

  static shared_registry shared(registry_limits{o.max_routers, o.new_per_source});
  if (!o.allow_file.empty() && load_allow_list(o.allow_file, &shared) != 0) {
    return 1;
  }
  if (!o.state_file.empty()) {
    std::string why;
    if (state_load(o.state_file, now_moment(), &shared.records, &why) != 0) {
      fprintf(stderr, "heartbeat-collector: %s: %s: starting empty\n", o.state_file.c_str(), why.c_str());
    } else {
      fprintf(stderr, "heartbeat-collector: %s: %zu records read\n", o.state_file.c_str(),
              shared.records.routers().size());
    }
  }

  // The signals are taken by one thread: blocked in every thread made from here.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  UniqueFd fd = open_heartbeat_socket();
  if (!fd) {
    fprintf(stderr, "heartbeat-collector: raw ICMP socket: %s (needs root or CAP_NET_RAW)\n", strerror(errno));
    return 1;
  }
  // The key is read now, while the privilege to read it may still be held.
  std::unique_ptr<httplib::Server> server;
  if (!web.cert_file.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(web.cert_file.c_str(), web.key_file.c_str());
    if (!tls->is_valid()) {
      fprintf(stderr, "heartbeat-collector: cannot use %s and %s for TLS\n", web.cert_file.c_str(),
              web.key_file.c_str());
      return 1;
    }
    server = std::move(tls);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  if (!server->bind_to_port(o.host.c_str(), o.port)) {
    fprintf(stderr, "heartbeat-collector: cannot listen on %s:%d\n", o.host.c_str(), o.port);
    return 1;
  }
  if (drop_privileges() != 0) {
    fprintf(stderr, "heartbeat-collector: cannot drop privileges: %s\n", strerror(errno));
    return 1;
  }

  server->new_task_queue = [] { return new bounded_pool(kWorkers, kQueued); };
  server->set_read_timeout(kReadTimeout, 0);
  server->set_write_timeout(kWriteTimeout, 0);
  server->set_keep_alive_timeout(kReadTimeout);
  server->set_payload_max_length(4096);
  static basic_auth auth(web.users);
  if (auth.enabled()) {
    server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
      if (auth.allows(req.get_header_value("Authorization"))) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      res.status = 401;
      res.set_header("WWW-Authenticate", "Basic realm=\"heartbeat-collector\"");
      res.set_content("Unauthorized\n", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    });
  }
  auto mono_ms = [] { return clock_ms(CLOCK_MONOTONIC); };
  static body_cache metrics(
      [&o, started] {
        return metrics_text(take_snapshot(&shared, o.forget_after), o.stale_after, process_stats_read(started),
                            SW_VERSION);
      },
      kRenderIntervalMs, mono_ms);
  static body_cache json([&o] { return routers_json(take_snapshot(&shared, o.forget_after), o.stale_after); },
                         kRenderIntervalMs, mono_ms);
  static body_cache page([&o] { return fleet_page(take_snapshot(&shared, o.forget_after), o.stale_after); },
                         kRenderIntervalMs, mono_ms);
  server->Get("/metrics", serve_cached(&metrics, "text/plain; version=0.0.4; charset=utf-8"));
  server->Get("/routers", serve_cached(&json, "application/json"));
  server->Get("/", serve_cached(&page, "text/html; charset=utf-8"));

  std::thread receiver(receive_loop, fd.get(), &shared, o.forget_after);
  receiver.detach();
  std::thread signaller(signal_loop, signals, &o, &shared);
  signaller.detach();
  fprintf(stderr, "heartbeat-collector: listening on %s:%d as uid %d\n", o.host.c_str(), o.port,
          static_cast<int>(getuid()));
  server->listen_after_bind();
  fprintf(stderr, "heartbeat-collector: HTTP server stopped\n");
  return 1;
}
