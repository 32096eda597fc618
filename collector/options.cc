#include "collector/options.h"

#include <errno.h>
#include <getopt.h>
#include <stdlib.h>

namespace {

constexpr int64_t kSecondsMax = 10LL * 366 * 86400;

// A whole number of seconds, 1 to ten years.
int parse_seconds(const char* text, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  long long value = strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kSecondsMax) {
    return -1;
  }
  *out = value;
  return 0;
}

// A count from `min` to `max`.
int parse_count(const char* text, uint64_t min, uint64_t max, uint64_t* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long value = strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value < min || value > max) {
    return -1;
  }
  *out = value;
  return 0;
}

// "ADDR:PORT"; an IPv6 address goes in brackets, "[::]:9595".
int parse_listen(const std::string& text, collector_options* out) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return -1;
  }
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int64_t port = 0;
  std::string port_text = text.substr(colon + 1);
  if (host.empty() || parse_seconds(port_text.c_str(), &port) != 0 || port > 65535) {
    return -1;
  }
  out->host = host;
  out->port = static_cast<int>(port);
  return 0;
}

}  // namespace

const char* collector_usage() {
  return "usage: heartbeat-collector [--listen ADDR:PORT] [--stale-after SECONDS] [--forget-after SECONDS]\n"
         "         [--max-routers N] [--new-per-source N] [--allow FILE] [--state-file PATH] [--web-config FILE]\n"
         "  --listen ADDR:PORT      serve GET /metrics, GET /routers and the page GET / there\n"
         "                          (default 127.0.0.1:9595)\n"
         "  --stale-after SECONDS   a router counts as down this long after its last heartbeat (default 180)\n"
         "  --forget-after SECONDS  a router's record is dropped this long after its last heartbeat\n"
         "                          (default 604800, 7 days)\n"
         "  --max-routers N         hold at most N records (default 200000)\n"
         "  --new-per-source N      accept at most N new NAS identifiers per source address a minute (default 10)\n"
         "  --allow FILE            accept only the NAS identifiers in FILE, one a line; reread on SIGHUP\n"
         "  --state-file PATH       keep the records there across restarts (written every minute and on SIGTERM)\n"
         "  --web-config FILE       TLS and basic authentication, in the Prometheus exporters' YAML format\n"
         "  -h, --help              print this text\n";
}

int collector_options_parse(int argc, char* const argv[], collector_options* out) {
  static const struct option kLong[] = {
      {"listen", required_argument, nullptr, 'l'},
      {"stale-after", required_argument, nullptr, 's'},
      {"forget-after", required_argument, nullptr, 'f'},
      {"max-routers", required_argument, nullptr, 'm'},
      {"new-per-source", required_argument, nullptr, 'n'},
      {"allow", required_argument, nullptr, 'a'},
      {"state-file", required_argument, nullptr, 'S'},
      {"web-config", required_argument, nullptr, 'w'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  optind = 0;  // a fresh scan on every call
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "h", kLong, nullptr)) != -1) {
    int bad = 0;
    switch (c) {
      case 'l':
        bad = parse_listen(optarg, out);
        break;
      case 's':
        bad = parse_seconds(optarg, &out->stale_after);
        break;
      case 'f':
        bad = parse_seconds(optarg, &out->forget_after);
        break;
      case 'm':
      case 'n': {
        uint64_t value = 0;
        bad = parse_count(optarg, 1, c == 'm' ? 100000000 : 1000000000, &value);
        if (c == 'm') {
          out->max_routers = static_cast<size_t>(value);
        } else {
          out->new_per_source = static_cast<uint32_t>(value);
        }
        break;
      }
      case 'a':
      case 'S':
      case 'w':
        bad = optarg[0] == '\0' ? -1 : 0;
        (c == 'a' ? out->allow_file : c == 'S' ? out->state_file : out->web_config_file) = optarg;
        break;
      case 'h':
        out->help = true;
        break;
      default:
        bad = -1;
        break;
    }
    if (bad != 0) {
      return -1;
    }
  }
  return optind == argc ? 0 : -1;
}
