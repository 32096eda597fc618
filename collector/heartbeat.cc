#include "collector/heartbeat.h"

#include <string.h>

namespace {

constexpr size_t kIpHeaderMin = 20;
constexpr size_t kMagicOffset = 12;
constexpr size_t kNasidOffset = 34;
constexpr unsigned char kMagic[4] = {'Z', 'E', 'L', 'V'};

uint32_t get16(const unsigned char* at) { return static_cast<uint32_t>(at[0]) << 8 | at[1]; }

uint32_t get32(const unsigned char* at) { return get16(at) << 16 | get16(at + 2); }

// Sum of the RFC 1071 checksum over the message, its own field included:
// 0xFFFF when the message is intact.
uint32_t folded_sum(const unsigned char* data, size_t length) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) {
    sum += get16(data + i);
  }
  if (i < length) {
    sum += static_cast<uint32_t>(data[i]) << 8;
  }
  while (sum >> 16) {
    sum = (sum >> 16) + (sum & 0xFFFF);
  }
  return sum;
}

// True when the ICMP message at `icmp` (`size` bytes) says it is a
// heartbeat: an echo request with the magic in its place.
bool claims_heartbeat(const unsigned char* icmp, size_t size) {
  return size >= kMagicOffset + sizeof kMagic && icmp[0] == 8 &&
         memcmp(icmp + kMagicOffset, kMagic, sizeof kMagic) == 0;
}

}  // namespace

heartbeat_verdict heartbeat_decode(const unsigned char* datagram, size_t length, heartbeat* out) {
  if (length < kIpHeaderMin || datagram[0] >> 4 != 4 || datagram[9] != 1) {
    return heartbeat_verdict::foreign;
  }
  size_t header = static_cast<size_t>(datagram[0] & 0x0F) * 4;
  size_t total = get16(datagram + 2);
  // More fragments, or an offset: a piece of something larger.
  bool fragment = (get16(datagram + 6) & 0x3FFF) != 0;
  if (header < kIpHeaderMin || header > length) {
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
  if (size < kNasidOffset + 1 || size > kNasidOffset + kHeartbeatNasidMax + 1) {
    return heartbeat_verdict::malformed;
  }
  if (icmp[0] != 8 || icmp[1] != 0 || icmp[8] != 1 || icmp[9] != 0 || get16(icmp + 10) != size - 8 ||
      folded_sum(icmp, size) != 0xFFFF) {
    return heartbeat_verdict::malformed;
  }
  size_t n = size - kNasidOffset - 1;
  if (icmp[size - 1] != 0 || memchr(icmp + kNasidOffset, 0, n) != nullptr) {
    return heartbeat_verdict::malformed;
  }
  memcpy(&out->source, datagram + 12, 4);
  out->uptime = get32(icmp + 16);
  out->load1 = get32(icmp + 20);
  out->ram_total = get32(icmp + 24);
  out->ram_free = get32(icmp + 28);
  out->processes = static_cast<uint16_t>(get16(icmp + 32));
  out->nasid_length = static_cast<uint8_t>(n);
  memcpy(out->nasid, icmp + kNasidOffset, n + 1);
  return heartbeat_verdict::ok;
}
