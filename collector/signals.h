// The signals the collector answers, taken by one thread of their own.
#pragma once

#include <signal.h>

#include "collector/options.h"
#include "collector/shared_registry.h"

// Blocks SIGHUP, SIGTERM and SIGINT in the calling thread, and so in every
// thread it makes from then on, for signal_loop alone to take them; a
// client gone mid-answer (SIGPIPE) is ignored. Returns the signals blocked.
sigset_t block_signals();

// Signals are taken here, one at a time, never in a handler: SIGHUP rereads
// the allow list, SIGTERM and SIGINT write the state file and end the
// program; every minute the state file is written anyway.
[[noreturn]] void signal_loop(sigset_t signals, const collector_options* o, shared_registry* shared);
