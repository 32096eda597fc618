// heartbeat-collector: receives the routers' ICMP heartbeats on the
// operator's host and serves what they say to Prometheus.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "collector/http_service.h"
#include "collector/options.h"
#include "collector/privileges.h"
#include "collector/receiver.h"
#include "collector/shared_registry.h"
#include "collector/signals.h"
#include "collector/state_keeping.h"
#include "collector/web_config.h"
#include "common/unique.h"

int main(int argc, char** argv) {
  collector_options options;
  if (collector_options_parse(argc, argv, &options) != 0) {
    fputs(collector_usage(), stderr);
    return 1;
  }
  if (options.help) {
    fputs(collector_usage(), stdout);
    return 0;
  }
  const collector_options& o = options;
  int64_t started = clock_ms(CLOCK_REALTIME) / 1000;

  web_config web;
  if (!o.web_config_file.empty() && load_web_config(o.web_config_file, &web) != 0) {
    return 1;
  }

  static shared_registry shared(registry_limits{o.max_routers, o.new_per_source});
  if (!o.allow_file.empty() && load_allow_list(o.allow_file, &shared) != 0) {
    return 1;
  }
  restore_state(o.state_file, &shared);

  sigset_t signals = block_signals();

  UniqueFd fd = open_heartbeat_socket();
  if (!fd) {
    fprintf(stderr, "heartbeat-collector: raw ICMP socket: %s (needs root or CAP_NET_RAW)\n", strerror(errno));
    return 1;
  }
  // The key is read now, while the privilege to read it may still be held.
  std::unique_ptr<httplib::Server> server = open_http_server(web, o);
  if (!server) {
    return 1;
  }
  if (drop_privileges() != 0) {
    fprintf(stderr, "heartbeat-collector: cannot drop privileges: %s\n", strerror(errno));
    return 1;
  }
  set_up_http_server(server.get(), web, o, &shared, started);

  std::thread receiver(receive_loop, fd.get(), &shared, o.forget_after);
  receiver.detach();
  std::thread signaller(signal_loop, signals, &o, &shared);
  signaller.detach();
  fprintf(stderr, "heartbeat-collector: listening on %s:%d as uid %d\n", o.host.c_str(), o.port,
          static_cast<int>(getuid()));
  server->listen_after_bind();
  fprintf(stderr, "heartbeat-collector: HTTP server stopped\n");
  return 1;
}
