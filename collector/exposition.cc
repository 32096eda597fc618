#include "collector/exposition.h"

#include <arpa/inet.h>
#include <stdio.h>

#include <charconv>

namespace {

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), 0
// when there is none: no overlong forms, surrogates or values past U+10FFFF.
size_t utf8_sequence(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  if (c < 0x80) {
    return 1;
  }
  size_t n;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    lo = c == 0xE0 ? 0xA0 : 0x80;
    hi = c == 0xED ? 0x9F : 0xBF;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    lo = c == 0xF0 ? 0x90 : 0x80;
    hi = c == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (left < n || p[1] < lo || p[1] > hi) {
    return 0;
  }
  for (size_t i = 2; i < n; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;
    }
  }
  return n;
}

}  // namespace

std::string printable_nasid(const std::string& raw) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  size_t size = raw.size();
  for (size_t i = 0; i < size;) {
    size_t n = utf8_sequence(p + i, size - i);
    if (n == 0 || p[i] < 0x20 || p[i] == 0x7F || p[i] == '\\') {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", p[i]);
      out += hex;
      i += 1;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  return out;
}

std::string address_text(uint32_t source) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &source, text, sizeof text);
  return text;
}

std::string load_text(uint32_t fixed) {
  // As printf's "%.10g" writes it, at a fraction of its cost.
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, fixed / 65536.0, std::chars_format::general, 10).ptr;
  return std::string(text, end);
}

bool is_up(const router_record& r, const fleet_snapshot& s, int64_t stale_after) {
  return s.taken.mono - r.last_seen_mono < stale_after;
}
