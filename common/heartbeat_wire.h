// The ICMP heartbeat on the wire: what the router's probe sends and the
// operator's collector reads, in one place. One echo request, every field
// big-endian:
//
//    0  type 8 (echo request; the reply is type 0), code 0
//    2  checksum (RFC 1071, over the whole message)
//    4  identifier, one per probe call        6  sequence: the pass
//    8  bytes 1 and 0                         10  payload length: message length - 8
//   12  magic "ZELV"
//   16  uptime, seconds                       20  1-minute load, 16 fractional bits
//   24  RAM total, bytes (low 32 bits)        28  RAM free, bytes (low 32 bits)
//   32  processes (16 bits)
//   34  NAS identifier, at most 63 bytes and its terminating zero, which is
//       the message's last byte
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace heartbeat_wire {

inline constexpr unsigned char kEchoRequest = 8;
inline constexpr unsigned char kEchoReply = 0;
inline constexpr size_t kChecksumOffset = 2;
inline constexpr size_t kIdOffset = 4;
inline constexpr size_t kSequenceOffset = 6;
inline constexpr size_t kFixedOffset = 8;
inline constexpr size_t kHeaderLength = 8;
inline constexpr size_t kPayloadLengthOffset = 10;
inline constexpr size_t kMagicOffset = 12;
inline constexpr unsigned char kMagic[4] = {'Z', 'E', 'L', 'V'};
inline constexpr size_t kTelemetryOffset = 16;
inline constexpr size_t kUptimeOffset = 16;
inline constexpr size_t kLoadOffset = 20;
inline constexpr size_t kRamTotalOffset = 24;
inline constexpr size_t kRamFreeOffset = 28;
inline constexpr size_t kProcessesOffset = 32;
inline constexpr size_t kTelemetryLength = 18;
inline constexpr size_t kNasidOffset = 34;
inline constexpr size_t kNasidMax = 63;
inline constexpr size_t kMessageMax = kNasidOffset + kNasidMax + 1;
// An IPv4 header without options, in front of what a raw socket reads.
inline constexpr size_t kIpHeaderLength = 20;

inline void put16(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value >> 8);
  at[1] = static_cast<unsigned char>(value);
}

inline void put32(unsigned char* at, uint32_t value) {
  put16(at, value >> 16);
  put16(at + 2, value);
}

inline uint32_t get16(const unsigned char* at) { return static_cast<uint32_t>(at[0]) << 8 | at[1]; }

inline uint32_t get32(const unsigned char* at) { return get16(at) << 16 | get16(at + 2); }

// RFC 1071 one's-complement sum of `length` bytes, folded to 16 bits; an odd
// last byte counts as the high byte of a zero-padded word. The checksum is
// its complement; over a message with its checksum in place it is 0xFFFF.
inline uint32_t folded_sum(const unsigned char* data, size_t length) {
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

}  // namespace heartbeat_wire
