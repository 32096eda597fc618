// The first half of the supervisor's life: from process start to the
// hand-over to the control cycle.
#pragma once

#include "supervisor/args.h"
#include "supervisor/requests.h"

// What start-up hands to the control cycle; lives as long as the process.
struct StartupState {
  spotwarden_args* args;
  RequestStrings requests;
};

// Parses the command line, learns the router's identity, builds the request
// strings, writes the offline portal configuration, points the offline-reason
// link at the start-up page and starts the portal keeper. Returns 0, or -1
// when the command line was rejected (nothing started, nothing written).
int spotwarden_startup(int argc, char* const argv[], StartupState* state);
