// The collector's command line.
#pragma once

#include <stdint.h>

#include <string>

struct collector_options {
  std::string host = "127.0.0.1";  // address the HTTP server binds
  int port = 9595;
  int64_t stale_after = 180;       // seconds from the last heartbeat to "down"
  int64_t forget_after = 7 * 86400;  // seconds from the last heartbeat to forgetting
  bool help = false;
};

// Parses argv into `out`. Returns 0, or -1 on a bad option or value.
int collector_options_parse(int argc, char* const argv[], collector_options* out);

// The usage text, ending with a line feed.
const char* collector_usage();
