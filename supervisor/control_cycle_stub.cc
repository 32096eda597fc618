// Until the control cycle exists the supervisor only stays alive beside the
// portal keeper.
#include <unistd.h>

#include "supervisor/control_cycle.h"

void control_cycle(spotwarden_args*, const char*, const char*, const char*) {
  for (;;) {
    pause();
  }
}
