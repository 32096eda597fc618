// The collector's command line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

struct collector_options {
  std::string host = "127.0.0.1";  // address the HTTP server binds
  int port = 9595;
  int64_t stale_after = 180;       // seconds from the last heartbeat to "down"
  int64_t forget_after = 7 * 86400;  // seconds from the last heartbeat to forgetting
  size_t max_routers = 200000;     // records held at most
  uint32_t new_per_source = 10;    // new identifiers a source may bring per minute
  std::string allow_file;          // identifiers accepted, one a line; empty: all
  std::string state_file;          // records kept across restarts; empty: none
  std::string web_config_file;     // TLS and basic authentication; empty: plain HTTP, open
  bool help = false;
};

// Parses argv into `out`. Returns 0, or -1 on a bad option or value.
int collector_options_parse(int argc, char* const argv[], collector_options* out);

// The usage text, ending with a line feed.
const char* collector_usage();
