#include "collector/signals.h"

#include <errno.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "collector/state_keeping.h"

sigset_t block_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return signals;
}

[[noreturn]] void signal_loop(sigset_t signals, const collector_options* o, shared_registry* shared) {
  for (;;) {
    struct timespec wait = {kSweepInterval, 0};
    int signal = sigtimedwait(&signals, nullptr, &wait);
    if (signal == SIGHUP) {
      if (!o->allow_file.empty()) {
        load_allow_list(o->allow_file, shared);
      }
    } else if (signal == SIGTERM || signal == SIGINT) {
      save_state(o->state_file, shared, o->forget_after);
      fprintf(stderr, "heartbeat-collector: stopped by signal %d\n", signal);
      _exit(0);
    } else if (signal < 0 && errno == EAGAIN) {
      save_state(o->state_file, shared, o->forget_after);
    }
  }
}
