// linkgauge: estimates the router's upstream bandwidth once per start and
// leaves the estimate, or "0" for none, in the two result files.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "bandwidth/gateways.h"
#include "bandwidth/measure.h"
#include "bandwidth/shell.h"
#include "build_config.h"
#include "common/unique.h"
#include "nvram.h"
#include "sutil.h"
#include "vct.h"

static_assert(host_text_is_safe(LINKGAUGE_TRACE_TARGET), "the trace target goes into a shell command");

namespace {

constexpr size_t kPortStateSize = 15;
constexpr char kTimerPidFile[] = "/var/run/timer.pid";

const char* setting(const char* name) {
  const char* value = nvram_get(name);
  return value ? value : "";
}

}  // namespace

// Detaches: the parent exits 0, the child starts a session in "/" with
// umask 0. 0 in the child, -1 when fork fails (no detaching then).
int daemon_init() {
  pid_t pid = fork();
  if (pid < 0) {
    return -1;
  }
  if (pid > 0) {
    exit(0);
  }
  setsid();
  if (chdir("/") != 0) {
    // Staying in the caller's directory does no harm: every path is absolute.
  }
  umask(0);
  return 0;
}

// Only async-signal-safe calls: stdio and exit() could deadlock when the
// signal lands inside a stdio call of the main flow.
void sig_term(int) {
  static const char kMessage[] = "linkgauge : terminated due to receive SIGTERM !\n";
  ssize_t ignored = write(STDOUT_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
  _exit(0);
}

int main() {
  // glibc names the program in each log line by itself, musl only when told.
  openlog("linkgauge", 0, LOG_USER);
  daemon_init();
  signal(SIGTERM, sig_term);

  char port_state[kPortStateSize] = {};
  VCTGetPortConnectState(setting("wan_eth"), 0, port_state);
  if (strncmp(port_state, "disconnect", 10) == 0) {
    set_not_estimated_into_file();
    return 0;
  }

  char manufacturer_host[kHostSize];
  if (url_host(setting("manufacturer_url"), manufacturer_host, sizeof manufacturer_host) != 0 ||
      !check_ping_result(manufacturer_host, kManufacturerPingFile)) {
    set_not_estimated_into_file();
    return 0;
  }

  // The timer daemon is told a measurement is under way; whether it hears
  // it changes nothing here.
  int timer = read_pid(kTimerPidFile);
  if (timer > 0 && kill(timer, 0) == 0) {
    kill(timer, SIGHUP);
  }

  run_shell("tracegw -I %s > %s", LINKGAUGE_TRACE_TARGET, kTraceFile);
  UniqueFile trace(fopen(kTraceFile, "r"));
  if (!trace) {
    return 0;
  }
  char gateways[kGatewayCount][kHostSize];
  read_gateways(trace.get(), gateways);

  GatewayPair pair;
  if (select_gateways(gateways, &pair) != 0 ||
      !measure_bandwidth(pair.burst_host, pair.probe_host, pair.ping_file)) {
    set_not_estimated_into_file();
  }
  return 0;
}
