#include "collector/http_service.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>
#include <vector>

#include "collector/body_cache.h"
#include "collector/fleet_page.h"
#include "collector/metrics_text.h"
#include "collector/process_stats.h"
#include "collector/routers_json.h"

#ifndef SW_VERSION
#define SW_VERSION "unknown"
#endif

namespace {

// The HTTP side: requests served at once, connections waiting for a worker
// (more wait in the listening socket's backlog), and how long a client may
// take for each read of its request. A slow client holds one worker for
// that long at most per read; the rest keep serving scrapes.
constexpr size_t kWorkers = 16;
constexpr size_t kQueued = 64;
constexpr time_t kReadTimeout = 2;
constexpr time_t kWriteTimeout = 10;
constexpr int64_t kRenderIntervalMs = 1000;

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

}  // namespace

int load_web_config(const std::string& path, web_config* out) {
  std::string text, why;
  if (read_text(path, &text) != 0 || web_config_parse(text, out, &why) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s\n", path.c_str(), why.empty() ? strerror(errno) : why.c_str());
    return -1;
  }
  return 0;
}

std::unique_ptr<httplib::Server> open_http_server(const web_config& web, const collector_options& o) {
  std::unique_ptr<httplib::Server> server;
  if (!web.cert_file.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(web.cert_file.c_str(), web.key_file.c_str());
    if (!tls->is_valid()) {
      fprintf(stderr, "heartbeat-collector: cannot use %s and %s for TLS\n", web.cert_file.c_str(),
              web.key_file.c_str());
      return nullptr;
    }
    server = std::move(tls);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  if (!server->bind_to_port(o.host.c_str(), o.port)) {
    fprintf(stderr, "heartbeat-collector: cannot listen on %s:%d\n", o.host.c_str(), o.port);
    return nullptr;
  }
  return server;
}

void set_up_http_server(httplib::Server* server, const web_config& web, const collector_options& o,
                        shared_registry* shared, int64_t started) {
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
      [&o, shared, started](std::string& out, const text_progress& grew) {
        metrics_text(out, take_snapshot(shared, o.forget_after), o.stale_after, process_stats_read(started),
                     SW_VERSION, grew);
      },
      kRenderIntervalMs, mono_ms);
  static body_cache json(
      [&o, shared](std::string& out, const text_progress&) {
        out = routers_json(take_snapshot(shared, o.forget_after), o.stale_after);
      },
      kRenderIntervalMs, mono_ms);
  static body_cache page(
      [&o, shared](std::string& out, const text_progress&) {
        out = fleet_page(take_snapshot(shared, o.forget_after), o.stale_after);
      },
      kRenderIntervalMs, mono_ms);
  server->Get("/metrics", serve_cached(&metrics, "text/plain; version=0.0.4; charset=utf-8"));
  server->Get("/routers", serve_cached(&json, "application/json"));
  server->Get("/", serve_cached(&page, "text/html; charset=utf-8"));
}
