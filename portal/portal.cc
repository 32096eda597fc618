#include "portal/portal.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "common/clock.h"
#include "os/log.h"
#include "os/runner.h"

int run_chilli_bg(char* const argv[]) {
  pid_t pid = fork();
  if (pid < 0) {
    LOG("%s: %s: failed to fork in run_chilli()\n", kProgName, "run_chilli_bg");
    return -1;
  }
  if (pid == 0) {
    for (;;) {
      LOG("%s: starting chillispot...\n", kProgName);
      our_system("chilli", argv);
      LOG("%s: chillispot has died, pausing before restart.\n", kProgName);
      os_sleep(kChilliRestartPause);
    }
  }
  os_sleep(kKeeperStartWait);
  return 0;
}

int signal_chilli(int signo) {
  char number[16];
  snprintf(number, sizeof number, "-%d", signo);
  char killall[] = "killall";
  char chilli[] = "chilli";
  char* argv[] = {killall, number, chilli, nullptr};
  return our_system_timeout("killall", argv, kCommandTimeLimit);
}

int chilli_offline() { return signal_chilli(SIGUSR1); }

int chilli_online() { return signal_chilli(SIGUSR2); }

int write_offline_reason(const char* link, const char* page) {
  return symlink(page, link) == 0 ? 0 : -1;
}

void remove_offline_reason(const char* link) {
  if (unlink(link) != 0) {
    LOG("%s: failed to remove offline reason file '%s': %s\n", kProgName, link, strerror(errno));
  }
}

void repoint_offline_reason(const char* link, const char* page) {
  remove_offline_reason(link);
  write_offline_reason(link, page);
}
