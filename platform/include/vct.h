// The router's port state library (libvct).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Fills `state` (at least 15 bytes) with the link state of interface
// `ifname`: a text beginning with "disconnect" when the port has no link.
int VCTGetPortConnectState(const char* ifname, int port, char* state);

#ifdef __cplusplus
}
#endif
