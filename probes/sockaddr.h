// Address resolution and receive timeouts shared by the RADIUS and ICMP
// probes (which need no digest, so they build where libcrypto is missing).
#pragma once

#include <netinet/in.h>
#include <stddef.h>

// Longest NAS identifier a probe carries.
inline constexpr size_t kProbeNasidMax = 63;

// Fills `table` (zeroed, AF_INET, `port`) with the addresses of `host`, a
// dotted quad or a name, at most `capacity` of them, 0.0.0.0 left out;
// *count gets how many. -1 when the name cannot be resolved.
int fill_sockaddr(struct sockaddr_in* table, int capacity, int* count, const char* host, int port);

// Sets SO_RCVTIMEO to whole seconds; 0 or below becomes 1 second, since no
// timeout at all would let a silent peer block the supervisor for ever.
int set_probe_receive_timeout(int fd, int seconds);
