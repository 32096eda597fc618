#include "device/urlencode.h"

#include <ctype.h>
#include <string.h>

void urlencode(const char* src, char* out, int size) {
  static const char kHex[] = "0123456789ABCDEF";
  const size_t limit = static_cast<size_t>(size) - 1;
  size_t pos = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p && pos < limit; ++p) {
    unsigned char c = *p;
    if ((c < 0x80 && isalnum(c)) || strchr("-_.~", c) != nullptr) {
      out[pos++] = static_cast<char>(c);
    } else if (c == ' ') {
      out[pos++] = '+';
    } else {
      if (pos + 3 > limit) {
        break;
      }
      out[pos++] = '%';
      out[pos++] = kHex[c >> 4];
      out[pos++] = kHex[c & 0x0F];
    }
  }
  out[pos] = '\0';
}
