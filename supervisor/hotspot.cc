#include "supervisor/hotspot.h"

#include <signal.h>
#include <string.h>

#include "common/clock.h"
#include "os/log.h"
#include "portal/portal.h"

namespace {

struct hotspot_record {
  bool entered = false;
  status_state state = status_state::starting;
  const char* page = nullptr;
};

hotspot_record g_hotspot;

bool same_page(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && strcmp(a, b) == 0);
}

void show_page(const char* page) {
  const hotspot_record& h = g_hotspot;
  if (h.entered && same_page(h.page, page)) {
    return;
  }
  if (page == nullptr) {
    remove_offline_reason(kOfflineReasonLink);
  } else if (!h.entered || h.page == nullptr) {
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
  hotspot_record& h = g_hotspot;
  show_page(page);
  tell_chilli(h.state, state);
  h.entered = true;
  h.state = state;
  h.page = page;
  status_enter(state, page);
}
