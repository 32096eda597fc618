// The manufacturer host, the reachability ping and the choice of the two
// upstream gateways that the measurement runs between.
#pragma once

#include <stddef.h>
#include <stdio.h>

// Bytes of a host or gateway address: a whole DNS name (253 characters).
inline constexpr size_t kHostSize = 254;
// Bytes of the manufacturer URL: room for a whole DNS name with scheme,
// port and path.
inline constexpr size_t kUrlSize = 512;
inline constexpr int kGatewayCount = 4;

inline constexpr char kTraceFile[] = "/var/tmp/tracegw.txt";
inline constexpr char kManufacturerPingFile[] = "/var/tmp/ping_manufacturer_host.txt";

// 1 when `line`, split at blanks, holds a token that is exactly "100%".
int line_reports_full_loss(const char* line);

// Copies the second '/'-separated piece of `url` (host or host:port) into
// `host`. -1 when the URL is missing, has no such piece, the piece does not
// fit or could change a shell command; `host` is then empty.
int url_host(const char* url, char* host, size_t size);

// Gateway address of one read of the trace file (the third blank-separated
// token without its parentheses) into `gateway`; empty when the line has
// none, it does not fit or it could change a shell command.
void trace_line_gateway(const char* line, char* gateway, size_t size);

// Reads at most seven lines of the trace output; lines four to seven give
// the four gateways (empty where missing).
void read_gateways(FILE* trace, char gateways[kGatewayCount][kHostSize]);

// 1 when one ping to `host`, written into `ping_file`, was answered.
int check_ping_result(const char* host, const char* ping_file);

// The pair handed to the measurement, pointing into the gateway table.
struct GatewayPair {
  const char* burst_host;
  const char* probe_host;
  const char* ping_file;
};

// Picks the first candidate (gateways 1-2, 2-3, 3-4) whose farther gateway
// answers a ping. 0 with `pair` filled, or -1 when none qualifies.
int select_gateways(const char gateways[kGatewayCount][kHostSize], GatewayPair* pair);
