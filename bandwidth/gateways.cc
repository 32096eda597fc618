#include "bandwidth/gateways.h"

#include <string.h>

#include "bandwidth/measure.h"
#include "bandwidth/shell.h"
#include "common/clock.h"
#include "common/unique.h"

namespace {

constexpr unsigned kPingSettleSeconds = 4;
constexpr int kTraceReads = 7;
constexpr int kTraceHeaderLines = 3;

const char* const kCandidatePingFiles[] = {
    "/var/tmp/ping_gw_second.txt",
    "/var/tmp/ping_gw_third.txt",
    "/var/tmp/ping_gw_fourth.txt",
};

// Copies src[0..n) into dst when it fits with its terminator and is safe to
// put into a shell command; otherwise leaves dst empty. 0 or -1.
int store_host(char* dst, size_t size, const char* src, size_t n) {
  dst[0] = '\0';
  if (n >= size) {
    return -1;
  }
  memcpy(dst, src, n);
  dst[n] = '\0';
  if (!host_text_is_safe(dst)) {
    dst[0] = '\0';
    return -1;
  }
  return 0;
}

}  // namespace

int line_reports_full_loss(const char* line) {
  char text[kLineSize];
  copy_text(text, line, sizeof text);
  char* save = nullptr;
  for (char* tok = strtok_r(text, " ", &save); tok; tok = strtok_r(nullptr, " ", &save)) {
    if (strcmp(tok, "100%") == 0) {
      return 1;
    }
  }
  return 0;
}

int url_host(const char* url, char* host, size_t size) {
  host[0] = '\0';
  if (url == nullptr || strlen(url) >= kUrlSize) {
    return -1;
  }
  const char* p = url + strspn(url, "/");
  p += strcspn(p, "/");  // the scheme
  p += strspn(p, "/");
  size_t n = strcspn(p, "/");
  if (n == 0) {
    return -1;
  }
  return store_host(host, size, p, n);
}

void trace_line_gateway(const char* line, char* gateway, size_t size) {
  gateway[0] = '\0';
  char text[kLineSize];
  copy_text(text, line, sizeof text);
  // Without its line end, a closing parenthesis at the end of the line is
  // what gets dropped below, as everywhere else; a bare address keeps its
  // last digit.
  text[strcspn(text, "\n")] = '\0';
  char* save = nullptr;
  const char* tok = strtok_r(text, " ", &save);
  for (int i = 0; i < 2 && tok; ++i) {
    tok = strtok_r(nullptr, " ", &save);
  }
  if (tok == nullptr) {
    return;
  }
  tok += strspn(tok, "(");
  size_t n = strcspn(tok, "(");
  if (n > 0 && tok[n - 1] == ')') {
    --n;
  }
  if (n == 0) {
    return;
  }
  store_host(gateway, size, tok, n);
}

void read_gateways(FILE* trace, char gateways[kGatewayCount][kHostSize]) {
  for (int g = 0; g < kGatewayCount; ++g) {
    gateways[g][0] = '\0';
  }
  char line[kLineSize];
  for (int i = 0; i < kTraceReads && fgets(line, sizeof line, trace); ++i) {
    if (i >= kTraceHeaderLines) {
      trace_line_gateway(line, gateways[i - kTraceHeaderLines], kHostSize);
    }
  }
}

int check_ping_result(const char* host, const char* ping_file) {
  if (!host_text_is_safe(host)) {
    return 0;
  }
  run_shell("ping -c 1 %s > %s", host, ping_file);
  os_sleep(kPingSettleSeconds);
  UniqueFile output(fopen(ping_file, "r"));
  if (!output) {
    return 0;
  }
  char line[kLineSize];
  if (!fgets(line, sizeof line, output.get())) {
    return 0;
  }
  rewind(output.get());
  while (fgets(line, sizeof line, output.get())) {
    if (line_reports_full_loss(line)) {
      return 0;
    }
  }
  return 1;
}

int select_gateways(const char gateways[kGatewayCount][kHostSize], GatewayPair* pair) {
  for (int c = 0; c + 1 < kGatewayCount; ++c) {
    const char* target = gateways[c + 1];
    if (target[0] == '\0' || !check_ping_result(target, kCandidatePingFiles[c])) {
      continue;
    }
    pair->burst_host = gateways[c];
    pair->probe_host = target;
    pair->ping_file = kCandidatePingFiles[c];
    return 0;
  }
  return -1;
}
