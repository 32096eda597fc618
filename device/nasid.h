// The router's RADIUS NAS identifier, derived from an interface's MAC address.
#pragma once

#include <sys/socket.h>

// Bytes the NAS identifier text needs: "00-1A-2B-3C-4D-5E" and the terminator.
inline constexpr int kNasidTextSize = 18;

// Writes the NAS identifier of interface `ifname` into `nasid` (at least
// kNasidTextSize bytes). Returns 0, or -1 with a message on stderr.
int getnasid(const char* ifname, char* nasid);

// The step after the hardware-address request: refuses a non-Ethernet family
// or a group address (lowest bit of the first byte set), otherwise formats
// the six bytes. Returns 0, or -1 with a message on stderr naming `ifname`.
int nasid_from_hwaddr(const char* ifname, const struct sockaddr& hwaddr, char* nasid);
