// Datagrams from the raw ICMP socket: anyone on the path can send them.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "probes/icmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  uint16_t id = static_cast<uint16_t>(data[0] << 8 | data[1]);
  size_t length = size - 2;
  // Exactly the bytes received, so that a read past them is caught.
  std::vector<unsigned char> datagram(data + 2, data + size);
  bool matches = icmp_reply_matches(datagram.data(), length, id);

  bool expected = false;
  if (length >= 36) {
    const unsigned char* icmp = datagram.data() + 20;
    expected = icmp[0] == 0 && icmp[4] == (id >> 8) && icmp[5] == (id & 0xFF) && memcmp(icmp + 12, "ZELV", 4) == 0;
  }
  FUZZ_ASSERT(matches == expected);
  return 0;
}
