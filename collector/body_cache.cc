#include "collector/body_cache.h"

#include <ctype.h>
#include <stdlib.h>
#include <zlib.h>

#include <new>

std::shared_ptr<const std::string> body_cache::get(bool gzip) {
  int64_t asked = now_ms_();
  std::lock_guard<std::mutex> guard(lock_);
  // A body finished after the request came, while it waited for the lock,
  // is as fresh as it can ask for: requests that queued behind a render take
  // its result instead of rendering again one after the other.
  if (!plain_ || asked - rendered_at_ >= min_interval_ms_) {
    // The old copies go first: requests still sending them keep them alive,
    // the cache does not hold them through the render as well.
    plain_.reset();
    gzip_.reset();
    plain_ = std::make_shared<const std::string>(render_());
    rendered_at_ = now_ms_();
  }
  if (gzip && !gzip_) {
    gzip_ = std::make_shared<const std::string>(gzip_compress(*plain_));
  }
  return gzip ? gzip_ : plain_;
}

bool accepts_gzip(const std::string& accept_encoding) {
  size_t at = 0;
  while (at < accept_encoding.size()) {
    size_t comma = accept_encoding.find(',', at);
    std::string item = accept_encoding.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    at = comma == std::string::npos ? accept_encoding.size() : comma + 1;
    size_t semicolon = item.find(';');
    std::string coding = item.substr(0, semicolon);
    std::string lower;
    for (char c : coding) {
      if (!isspace(static_cast<unsigned char>(c))) {
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
      }
    }
    if (lower != "gzip" && lower != "*") {
      continue;
    }
    if (semicolon == std::string::npos) {
      return true;
    }
    size_t q = item.find("q=", semicolon);
    return q == std::string::npos || strtod(item.c_str() + q + 2, nullptr) > 0;
  }
  return false;
}

std::string gzip_compress(const std::string& data) {
  z_stream z = {};
  // 16 added to the window bits: a gzip header and trailer, not zlib's.
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::bad_alloc();
  }
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int done = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (done != Z_STREAM_END) {
    throw std::bad_alloc();
  }
  return out;
}
