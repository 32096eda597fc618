// RADIUS liveness probes: a test Accounting-Request and a test Access-Request
// that succeed on any reply, plus the host-name resolution the ICMP probe
// shares.
#pragma once

#include <netinet/in.h>
#include <stddef.h>

// Shared secret used when the caller has none; the offline portal
// configuration carries the same one.
inline constexpr char kDefaultRadiusSecret[] = "kestrelmoss9";

inline constexpr int kRadiusAcctPort = 1813;
inline constexpr int kRadiusAuthPort = 1812;
inline constexpr size_t kRadiusReplySize = 512;
// Longest NAS identifier a probe carries.
inline constexpr size_t kProbeNasidMax = 63;

// Fills `table` (zeroed, AF_INET, `port`) with the addresses of `host`, a
// dotted quad or a name, at most `capacity` of them; *count gets how many.
// -1 when the name cannot be resolved.
int fill_sockaddr(struct sockaddr_in* table, int capacity, int* count, const char* host, int port);

// Sets SO_RCVTIMEO to whole seconds; 0 or below becomes 1 second, since no
// timeout at all would let a silent peer block the supervisor for ever.
int set_probe_receive_timeout(int fd, int seconds);

// A UDP socket connected to the first address of `server`:`port` with the
// receive timeout set; the caller closes it. -1 on failure (logged).
int new_radius_socket(const char* server, int port, int timeout);

// Zeroes the Request Authenticator of a finished packet, then writes
// MD5(packet[0..length) + secret) there.
void fill_radius_authenticator(unsigned char* packet, size_t length, const char* secret);

// Sends `packet` up to retries + 1 times (at least once), waiting up to
// `timeout` seconds for a reply after each; 0 as soon as any datagram comes back.
int test_radius(const char* server, int port, const unsigned char* packet, size_t length,
                unsigned char* reply, size_t reply_size, int retries, int timeout);

// Accounting-On / Access-Request for "!ping" carrying `nasid`; `secret` null
// means the default. 0 when the server answered, -1 otherwise.
int test_radius_acct(const char* server, const char* nasid, const char* secret, int retries, int timeout);
int test_radius_auth(const char* server, const char* nasid, const char* secret, int retries, int timeout);
