// The IPv4 address of the LAN interface, which the portal is given as its
// DNS server.
#pragma once

// Bytes the dotted-quad text needs: "255.255.255.255" and the terminator.
inline constexpr int kLanIpTextSize = 16;

// Writes the address of interface `ifname` (exact name: "eth0" is not
// "eth0:1"; the last of several records of that name wins) into `ip`
// (kLanIpTextSize bytes). Returns 0, or -1 when no record bears the name or
// the lookup failed (messages on stderr; none for an unknown name).
int getlanip(const char* ifname, char* ip);
