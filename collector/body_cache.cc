#include "collector/body_cache.h"

#include <ctype.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>

std::shared_ptr<const std::string> body_cache::get(bool gzip) {
  int64_t asked = now_ms_();
  std::lock_guard<std::mutex> guard(lock_);
  // A body finished after the request came, while it waited for the lock,
  // is as fresh as it can ask for: requests that queued behind a render take
  // its result instead of rendering again one after the other.
  if (!plain_ || asked - rendered_at_ >= min_interval_ms_) {
    // The old copies go first: requests still sending them keep them alive,
    // the cache does not hold them through the render as well. The old text
    // that no request holds any more is written over instead: its pages are
    // there already, where a new text's would be faulted in and zeroed again.
    gzip_.reset();
    std::shared_ptr<std::string> text;
    if (plain_.use_count() == 1) {
      // What the last request to let it go read happens before the writes.
      std::atomic_thread_fence(std::memory_order_acquire);
      text = std::move(plain_);
      text->clear();
    } else {
      plain_.reset();
      text = std::make_shared<std::string>();
    }
    if (gzip) {
      // Destroyed before the text it reads, were the render to throw.
      gzip_stream deflating;
      render_(*text, [&deflating](const char* data, size_t size) { deflating.grew(data, size); });
      gzip_ = std::make_shared<const std::string>(deflating.finish(text->data(), text->size()));
    } else {
      render_(*text, {});
    }
    plain_ = std::move(text);
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

namespace {

// Room for a piece however incompressible, with zlib's most cautious bound
// (an eighth and a sixty-fourth more) and a sync flush: one call to deflate.
constexpr size_t kScratchBytes = kGzipPieceBytes + kGzipPieceBytes / 4;

void append_le32(std::string& out, uLong value) {
  for (int i = 0; i < 4; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

}  // namespace

// One piece as raw deflate blocks. Every piece but the last ends on a byte
// boundary with an empty stored block (a sync flush) and no final block, so
// that the pieces joined end to end are one deflate stream.
gzip_stream::piece gzip_stream::deflate_piece(const char* data, size_t size, bool last, char* scratch) {
  z_stream z = {};
  // Negative window bits: no zlib or gzip framing, the caller writes gzip's.
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::bad_alloc();
  }
  piece done;
  done.crc = crc32_z(0, reinterpret_cast<const Bytef*>(data), size);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(scratch);
  z.avail_out = static_cast<uInt>(kScratchBytes);
  int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  bool complete = last ? status == Z_STREAM_END : status == Z_OK && z.avail_in == 0 && z.avail_out > 0;
  deflateEnd(&z);
  // Only the compressed bytes are copied: a buffer of the bound zero-filled
  // for every piece would cost more than deflating it.
  done.bytes.assign(scratch, z.total_out);
  if (!complete) {
    throw std::bad_alloc();
  }
  return done;
}

gzip_stream::~gzip_stream() { stop_helpers(); }

void gzip_stream::stop_helpers() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : helpers_) {
    t.join();
  }
  helpers_.clear();
}

void gzip_stream::grew(const char* data, size_t size) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    data_ = data;
    size_ = size;
  }
  changed_.notify_all();
  start_helpers(size);
}

std::string gzip_stream::finish(const char* data, size_t size) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    data_ = data;
    size_ = size;
    complete_ = true;
  }
  changed_.notify_all();
  start_helpers(size);
  work();
  // Every piece is taken: the helpers finish theirs and go.
  stop_helpers();
  if (failed_) {
    throw std::bad_alloc();
  }
  size_t total = 18;
  for (const piece& p : pieces_) {
    total += p.bytes.size();
  }
  std::string out;
  out.reserve(total);
  // Magic, deflate, no flags, no time, "fastest" as XFL, Unix.
  out.append("\x1f\x8b\x08\x00\x00\x00\x00\x00\x04\x03", 10);
  uLong crc = crc32_z(0, nullptr, 0);
  for (size_t i = 0; i < pieces_.size(); ++i) {
    out += pieces_[i].bytes;
    size_t length = std::min(kGzipPieceBytes, size - i * kGzipPieceBytes);
    crc = crc32_combine(crc, pieces_[i].crc, static_cast<z_off_t>(length));
  }
  append_le32(out, crc);
  append_le32(out, static_cast<uLong>(size & 0xFFFFFFFFu));
  return out;
}

void gzip_stream::start_helpers(size_t size) {
  // None for a text of one piece; never more than there are processors.
  size_t wanted = std::max(1u, std::thread::hardware_concurrency()) - 1;
  if (size <= kGzipPieceBytes || helpers_.size() >= wanted) {
    return;
  }
  try {
    while (helpers_.size() < wanted) {
      helpers_.emplace_back([this] { work(); });
    }
  } catch (const std::system_error&) {
    // Fewer helpers, or none: the others take the pieces they would have.
  }
}

void gzip_stream::work() {
  std::unique_ptr<char[]> scratch;
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    // A piece is taken once text follows it, so that only the last is
    // finished as the last; all of them once the text is complete.
    changed_.wait(lock, [&] { return stop_ || failed_ || complete_ || size_ > (next_ + 1) * kGzipPieceBytes; });
    size_t at = next_ * kGzipPieceBytes;
    size_t count = std::max<size_t>(1, (size_ + kGzipPieceBytes - 1) / kGzipPieceBytes);
    if (stop_ || failed_ || (complete_ && next_ >= count)) {
      return;
    }
    size_t i = next_++;
    const char* data = data_ + at;
    size_t size = std::min(kGzipPieceBytes, size_ - at);
    bool last = complete_ && i + 1 == count;
    lock.unlock();
    piece done;
    try {
      if (!scratch) {
        scratch.reset(new char[kScratchBytes]);
      }
      done = deflate_piece(data, size, last, scratch.get());
    } catch (const std::bad_alloc&) {
      lock.lock();
      failed_ = true;
      changed_.notify_all();
      return;
    }
    lock.lock();
    if (pieces_.size() <= i) {
      pieces_.resize(i + 1);
    }
    pieces_[i] = std::move(done);
  }
}

std::string gzip_compress(const std::string& data) { return gzip_stream().finish(data.data(), data.size()); }
