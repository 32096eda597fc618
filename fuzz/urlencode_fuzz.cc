// Percent-encoding of texts from the device (SSID, NAS identifier) into a
// buffer of any size: compared with a straightforward encoder.
#include <fuzzer/FuzzedDataProvider.h>

#include "device/urlencode.h"
#include "fuzz/fuzz_support.h"

namespace {

// The encoding of one byte.
std::string encode_byte(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
      c == '.' || c == '~') {
    return std::string(1, static_cast<char>(c));
  }
  if (c == ' ') {
    return "+";
  }
  static const char kHex[] = "0123456789ABCDEF";
  return std::string{'%', kHex[c >> 4], kHex[c & 15]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  int out_size = in.ConsumeIntegralInRange<int>(1, 400);
  std::string src = in.ConsumeRemainingBytesAsString();
  src = src.c_str();

  // Whole encodings of bytes only, as many as fit before the terminator.
  std::string expected;
  for (unsigned char c : src) {
    std::string piece = encode_byte(c);
    if (expected.size() + piece.size() > static_cast<size_t>(out_size) - 1) {
      break;
    }
    expected += piece;
  }
  // Exactly the size given, so that a write past it is caught.
  std::vector<char> out(static_cast<size_t>(out_size));
  urlencode(src.c_str(), out.data(), out_size);
  FUZZ_ASSERT(std::string(out.data()) == expected);
  return 0;
}
