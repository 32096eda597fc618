// The heartbeats' way in: a raw ICMP socket and the thread that reads it.
#pragma once

#include <stdint.h>

#include "collector/shared_registry.h"
#include "common/unique.h"

// The raw socket, seeing echo requests only: the kernel still answers them,
// and every other ICMP type stays out of the receive loop. Each datagram
// comes with the socket's count of datagrams dropped for want of room.
UniqueFd open_heartbeat_socket();

// Decodes every datagram of `fd` into `shared`, and every kSweepInterval
// forgets the routers silent for `forget_after` seconds. Never returns.
[[noreturn]] void receive_loop(int fd, shared_registry* shared, int64_t forget_after);
