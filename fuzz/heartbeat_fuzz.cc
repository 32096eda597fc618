// Datagrams on the collector's raw ICMP socket: anyone can send them.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collector/exposition.h"
#include "collector/heartbeat.h"
#include "collector/metrics_text.h"
#include "collector/registry.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the bytes received, so that a read past them is caught.
  std::vector<unsigned char> datagram(data, data + size);
  heartbeat hb;
  memset(&hb, 0xAA, sizeof hb);
  if (heartbeat_decode(datagram.data(), size, &hb) != heartbeat_verdict::ok) {
    return 0;
  }
  // Nothing short or foreign gets through.
  size_t header = static_cast<size_t>(data[0] & 0x0F) * 4;
  FUZZ_ASSERT(size >= 20 + 35 && header >= 20 && size - header >= 35 && size - header <= 98);
  FUZZ_ASSERT(data[9] == 1 && data[header] == 8 && memcmp(data + header + 12, "ZELV", 4) == 0);
  FUZZ_ASSERT(hb.nasid_length == size - header - 35 && strlen(hb.nasid) == hb.nasid_length);

  // Whatever the identifier's bytes, the label is printable UTF-8 text.
  registry r;
  r.record(hb, moment{1000, 1000});
  std::string label = printable_nasid(std::string(hb.nasid, hb.nasid_length));
  for (size_t i = 0; i < label.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(label[i]);
    FUZZ_ASSERT(c >= 0x20 && c != 0x7F);
    FUZZ_ASSERT(c != '\\' || label.compare(i, 2, "\\x") == 0);
  }
  std::string text = metrics_text(r.snapshot(moment{1000, 1000}), 180, process_stats{}, "fuzz");
  FUZZ_ASSERT(std::count(text.begin(), text.end(), '\n') == 11 * 3 + 4 * 3 + 7 + 3 + 6 * 3);
  return 0;
}
