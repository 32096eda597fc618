// The router's ICMP heartbeat as the operator's host receives it: an IPv4
// datagram holding an echo request whose payload carries the magic, the
// router's load figures and its NAS identifier.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/heartbeat_wire.h"

// The longest NAS identifier a heartbeat carries.
inline constexpr size_t kHeartbeatNasidMax = heartbeat_wire::kNasidMax;

// What one heartbeat says, in host byte order.
struct heartbeat {
  uint32_t source;      // sender's IPv4 address, network byte order
  uint32_t uptime;      // seconds
  uint32_t load1;       // 1-minute load, 16 fractional bits
  uint32_t ram_total;   // bytes, low 32 bits
  uint32_t ram_free;    // bytes, low 32 bits
  uint16_t processes;
  uint8_t nasid_length;
  char nasid[kHeartbeatNasidMax + 1];  // raw bytes, zero-terminated, no zero inside
};

// What a datagram read from the heartbeat socket turned out to be: a
// heartbeat, an echo request of something else (an ordinary ping), or one
// that carries the heartbeat's magic but fails another check.
enum class heartbeat_verdict { ok, foreign, malformed };

// Decodes `length` bytes read from a raw ICMP socket (IPv4 header first).
// ok only for a well-formed heartbeat: an unfragmented IPv4 ICMP datagram
// whose echo request (code 0) has a good checksum, the fixed bytes 1 and 0,
// the magic, a payload length that matches, and a NAS identifier of at most
// 63 bytes ending exactly at the message's last byte. Never reads past
// `length`; `out` is written only on success.
heartbeat_verdict heartbeat_decode(const unsigned char* datagram, size_t length, heartbeat* out);
