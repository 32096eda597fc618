// An answer rendered at most once per interval and by one request at a
// time; every request meanwhile is served the same copy, plain or gzip.
// With a large fleet a render takes seconds and a body is tens of megabytes:
// rendering per request would multiply both by the number of clients.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class body_cache final {
 public:
  // `render` makes the body; `now_ms` is a monotonic clock in milliseconds.
  body_cache(std::function<std::string()> render, int64_t min_interval_ms, std::function<int64_t()> now_ms)
      : render_(std::move(render)), min_interval_ms_(min_interval_ms), now_ms_(std::move(now_ms)) {}

  // The current body, rendered anew when the last one was finished at least
  // the interval before this call; gzip-compressed when `gzip`.
  std::shared_ptr<const std::string> get(bool gzip);

 private:
  std::function<std::string()> render_;
  int64_t min_interval_ms_;
  std::function<int64_t()> now_ms_;
  std::mutex lock_;  // held through a render: the other requests wait for it
  int64_t rendered_at_ = 0;  // when the last render finished
  std::shared_ptr<const std::string> plain_;
  std::shared_ptr<const std::string> gzip_;
};

// True when an Accept-Encoding header value accepts gzip (not "gzip;q=0").
bool accepts_gzip(const std::string& accept_encoding);

// `data` as a gzip stream (RFC 1952), at the fastest level.
std::string gzip_compress(const std::string& data);
