// The hotspot as its users and its operator see it: the state the status
// file names, the page the offline-reason link points at, and chilli's mode.
// They change together, here and nowhere else.
#pragma once

#include "portal/status.h"

// Enters `state` showing `page` (one of the page constants, or nullptr for
// none). In this order: the link follows the page (made on the first entry,
// never replacing one that is there; moved; removed), chilli is told what the
// change means for it (first online: SIGPWR then SIGUSR2, two seconds after
// the link went; offline: SIGUSR1; back online: SIGUSR2), then the status
// file is written when anything changed or a heartbeat came since.
void hotspot_enter(status_state state, const char* page);
