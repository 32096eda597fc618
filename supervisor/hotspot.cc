#include "supervisor/hotspot.h"

#include <signal.h>

#include "common/clock.h"
#include "os/log.h"
#include "portal/portal.h"

namespace {

// What the status file shows is what the link and chilli were last told:
// the one record of both.
void show_page(const status_shown& was, const char* page) {
  if (was.entered && status_same_page(was.page, page)) {
    return;
  }
  if (page == nullptr) {
    remove_offline_reason(kOfflineReasonLink);
  } else if (!was.entered || was.page == nullptr) {
    // Made, never replaced: at start-up a link left by an earlier life stays
    // until the first move.
    write_offline_reason(kOfflineReasonLink, page);
  } else {
    repoint_offline_reason(kOfflineReasonLink, page);
  }
}

void tell_chilli(status_state from, status_state to) {
  if (from == to) {
    return;
  }
  if (to == status_state::offline) {
    chilli_offline();
  } else if (to == status_state::online && from == status_state::offline) {
    chilli_online();
  } else if (to == status_state::online) {
    LOG("config download and radius checks complete, chilli is online\n");
    os_sleep(2);
    signal_chilli(SIGPWR);
    chilli_online();
  }
}

}  // namespace

void hotspot_enter(status_state state, const char* page) {
  const status_shown was = status_now();
  show_page(was, page);
  tell_chilli(was.state, state);
  status_enter(state, page);
}
