// An answer rendered at most once per interval and by one request at a
// time; every request meanwhile is served the same copy, plain or gzip.
// With a large fleet a render takes seconds and a body is tens of megabytes:
// rendering per request would multiply both by the number of clients.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "collector/growing_text.h"

class body_cache final {
 public:
  // Writes the body into an empty string (which may have the capacity of
  // the last one), telling the progress (if it is set) to a reader that
  // compresses it meanwhile.
  using renderer = std::function<void(std::string& out, const text_progress& grew)>;

  // `render` makes the body; `now_ms` is a monotonic clock in milliseconds.
  body_cache(renderer render, int64_t min_interval_ms, std::function<int64_t()> now_ms)
      : render_(std::move(render)), min_interval_ms_(min_interval_ms), now_ms_(std::move(now_ms)) {}

  // The current body, rendered anew when the last one was finished at least
  // the interval before this call; gzip-compressed when `gzip`.
  std::shared_ptr<const std::string> get(bool gzip);

 private:
  renderer render_;
  int64_t min_interval_ms_;
  std::function<int64_t()> now_ms_;
  std::mutex lock_;  // held through a render: the other requests wait for it
  int64_t rendered_at_ = 0;  // when the last render finished
  std::shared_ptr<std::string> plain_;  // handed out as const, rewritten once unshared
  std::shared_ptr<const std::string> gzip_;
};

// True when an Accept-Encoding header value accepts gzip (not "gzip;q=0").
bool accepts_gzip(const std::string& accept_encoding);

// The text is deflated in pieces of this size, on as many threads as there
// are processors: a render of a large fleet is hundreds of megabytes, and one
// thread compressing it would take longer than the render itself.
inline constexpr size_t kGzipPieceBytes = 4 << 20;

// One gzip member (RFC 1952) at the fastest level, made of a text as it is
// written: the pieces of it written so far are deflated on other threads
// while the rest is rendered, and each piece ends with a sync flush so that
// they join into one stream with one checksum.
class gzip_stream final {
 public:
  gzip_stream() = default;
  gzip_stream(const gzip_stream&) = delete;
  gzip_stream& operator=(const gzip_stream&) = delete;
  ~gzip_stream();

  // The text is written up to `size` bytes from `data`, as text_progress.
  void grew(const char* data, size_t size);
  // The whole text, which stays where it is until this returns: this thread
  // deflates the pieces left alongside the helpers.
  std::string finish(const char* data, size_t size);

 private:
  struct piece {
    std::string bytes;
    unsigned long crc = 0;
  };

  static piece deflate_piece(const char* data, size_t size, bool last, char* scratch);
  void start_helpers(size_t size);
  void stop_helpers();
  void work();

  std::mutex lock_;
  std::condition_variable changed_;
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool complete_ = false;
  bool stop_ = false;
  bool failed_ = false;
  size_t next_ = 0;  // the first piece nobody took
  std::vector<piece> pieces_;
  std::vector<std::thread> helpers_;
};

// `data` as one gzip member, deflated in pieces as above.
std::string gzip_compress(const std::string& data);
