// The ICMP heartbeat: an echo request whose payload names the router and
// carries its load figures; any matching echo reply proves the link.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/sysinfo.h>

#include "common/heartbeat_wire.h"

// Longest probe message (common/heartbeat_wire.h has its layout).
inline constexpr size_t kIcmpMessageMax = heartbeat_wire::kMessageMax;
// An IPv4 header in front of the longest message.
inline constexpr size_t kIcmpReplySize = heartbeat_wire::kIpHeaderLength + kIcmpMessageMax;
// Addresses of one host tried per pass.
inline constexpr int kIcmpAddressMax = 16;

// Builds the probe message in `message` (zeroed first): echo request with
// `id`, sequence 0, magic and NAS identifier ("TOOBIG!" when it is longer
// than the probe carries); telemetry and checksum are left zero. Returns the
// message length.
size_t icmp_build_probe(unsigned char message[kIcmpMessageMax], uint16_t id, const char* nasid);

// Writes the telemetry block of `info` into a probe message, big-endian.
void pack_icmp_sysinfo(unsigned char* message, const struct sysinfo& info);
// Refills the telemetry block from sysinfo(); zeros when that fails.
void fill_icmp_sysinfo(unsigned char* message);

// Internet checksum (RFC 1071) of `length` bytes; an odd last byte counts as
// the high byte of a zero-padded word.
uint16_t icmp_checksum(const unsigned char* data, size_t length);
// Stores the checksum of a filled-in message of `length` bytes in its
// checksum field.
void icmp_seal(unsigned char* message, size_t length);

// True when the `length` bytes received on the raw socket (IPv4 header of 20
// bytes included) are an echo reply to a probe with identifier `id`. Never
// reads past `length`.
bool icmp_reply_matches(const unsigned char* datagram, size_t length, uint16_t id);

// Sends the probe to every address of `host`, pass after pass, waiting up to
// `timeout` seconds (0 or below: 1) after each send; datagrams that are not
// the reply do not end that wait. 0 on the first matching reply, -1
// otherwise.
int test_ping(const char* host, const char* nasid, int passes, int timeout);
