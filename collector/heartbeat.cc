#include "collector/heartbeat.h"

#include <string.h>

#include "common/heartbeat_wire.h"

using namespace heartbeat_wire;

namespace {

// True when the ICMP message at `icmp` (`size` bytes) says it is a
// heartbeat: an echo request with the magic in its place.
bool claims_heartbeat(const unsigned char* icmp, size_t size) {
  return size >= kMagicOffset + sizeof kMagic && icmp[0] == kEchoRequest &&
         memcmp(icmp + kMagicOffset, kMagic, sizeof kMagic) == 0;
}

}  // namespace

heartbeat_verdict heartbeat_decode(const unsigned char* datagram, size_t length, heartbeat* out) {
  if (length < kIpHeaderLength || datagram[0] >> 4 != 4 || datagram[9] != 1) {
    return heartbeat_verdict::foreign;
  }
  size_t header = static_cast<size_t>(datagram[0] & 0x0F) * 4;
  size_t total = get16(datagram + 2);
  // More fragments, or an offset: a piece of something larger.
  bool fragment = (get16(datagram + 6) & 0x3FFF) != 0;
  if (header < kIpHeaderLength || header > length) {
    return heartbeat_verdict::foreign;
  }
  const unsigned char* icmp = datagram + header;
  size_t size = length - header;
  if (!claims_heartbeat(icmp, size)) {
    return heartbeat_verdict::foreign;
  }
  if (total != length || fragment) {
    return heartbeat_verdict::malformed;
  }
  if (size < kNasidOffset + 1 || size > kMessageMax) {
    return heartbeat_verdict::malformed;
  }
  if (icmp[1] != 0 || icmp[kFixedOffset] != 1 || icmp[kFixedOffset + 1] != 0 ||
      get16(icmp + kPayloadLengthOffset) != size - kHeaderLength || folded_sum(icmp, size) != 0xFFFF) {
    return heartbeat_verdict::malformed;
  }
  size_t n = size - kNasidOffset - 1;
  if (icmp[size - 1] != 0 || memchr(icmp + kNasidOffset, 0, n) != nullptr) {
    return heartbeat_verdict::malformed;
  }
  memcpy(&out->source, datagram + 12, 4);
  out->uptime = get32(icmp + kUptimeOffset);
  out->load1 = get32(icmp + kLoadOffset);
  out->ram_total = get32(icmp + kRamTotalOffset);
  out->ram_free = get32(icmp + kRamFreeOffset);
  out->processes = static_cast<uint16_t>(get16(icmp + kProcessesOffset));
  out->nasid_length = static_cast<uint8_t>(n);
  memcpy(out->nasid, icmp + kNasidOffset, n + 1);
  return heartbeat_verdict::ok;
}
