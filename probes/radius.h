// RADIUS liveness probes: a test Accounting-Request and a test Access-Request
// that succeed on any reply.
#pragma once

#include <netinet/in.h>
#include <stddef.h>

#include "build_config.h"
#include "common/unique.h"
#include "probes/sockaddr.h"

inline constexpr int kRadiusAcctPort = 1813;
inline constexpr int kRadiusAuthPort = 1812;
inline constexpr size_t kRadiusReplySize = 512;

// A UDP socket connected to the first address of `server`:`port` with the
// receive timeout set, owned by the caller; empty on failure (logged).
UniqueFd new_radius_socket(const char* server, int port, int timeout);

// Zeroes the Request Authenticator of a finished packet, then writes
// MD5(packet[0..length) + secret) there.
void fill_radius_authenticator(unsigned char* packet, size_t length, const char* secret);

// Writes the Message-Authenticator value of the attribute at `offset` of a
// finished packet: HMAC-MD5 under `secret` of packet[0..length) with that
// value zeroed (RFC 3579, section 3.2; RFC 2869, section 5.14).
void fill_message_authenticator(unsigned char* packet, size_t length, size_t offset, const char* secret);

// Sends `packet` up to retries + 1 times (at least once), waiting up to
// `timeout` seconds for a reply after each; 0 as soon as any datagram comes back.
int test_radius(const char* server, int port, const unsigned char* packet, size_t length,
                unsigned char* reply, size_t reply_size, int retries, int timeout);

// Accounting-On / Access-Request for "!ping" carrying `nasid`; `secret` null
// means the default. 0 when the server answered, -1 otherwise.
int test_radius_acct(const char* server, const char* nasid, const char* secret, int retries, int timeout);
int test_radius_auth(const char* server, const char* nasid, const char* secret, int retries, int timeout);

// test_radius_auth() with a Message-Authenticator after the NAS-Identifier
// (n + 65 bytes), for servers that drop Access-Requests without one.
int test_radius_auth_signed(const char* server, const char* nasid, const char* secret, int retries,
                            int timeout);
