#include "portal/portal.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/clock.h"
#include "common/unique.h"
#include "os/log.h"
#include "os/runner.h"

namespace {

// In the supervisor: the keeper's id (0 when none runs) and the vector every
// keeper hands chilli.
pid_t g_keeper = 0;
char* const* g_chilli_argv = nullptr;

const char* g_proc_dir = "/proc";

// Set in the keeper by keeper_stop(), read once chilli has ended.
volatile sig_atomic_t g_keeper_stopping = 0;

// The keeper's SIGTERM handler. A keeper that outlived its supervisor would
// restart chilli beside the one of the supervisor init starts next, so chilli
// ends with it; with no chilli to wait for, there is nothing to take along.
void keeper_stop(int) {
  g_keeper_stopping = 1;
  if (our_system_signal(SIGTERM) != 0) {
    _exit(0);
  }
}

// True while a process named chilli runs, whoever started it: killall reaches
// every chilli by that name, so two would share every signal. The name is
// read from /proc/PID/stat ("PID (NAME) STATE ..."), where a zombie's state
// tells it has ended.
bool chilli_running() {
  UniqueDir proc(opendir(g_proc_dir));
  while (const dirent* entry = proc ? readdir(proc.get()) : nullptr) {
    if (!isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
      continue;
    }
    char path[300];
    snprintf(path, sizeof path, "%s/%s/stat", g_proc_dir, entry->d_name);
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    // Room for the id, the kernel's 15 characters of a name and the state.
    char stat[64];
    ssize_t n = fd ? read(fd.get(), stat, sizeof stat - 1) : -1;
    if (n <= 0) {
      continue;  // ended meanwhile
    }
    stat[n] = '\0';
    const char* name = strchr(stat, '(');
    const char* end = strrchr(stat, ')');
    if (name && end && end - name == 7 && strncmp(name + 1, "chilli", 6) == 0 && end[1] == ' ' &&
        end[2] != 'Z' && end[2] != 'X') {
      return true;
    }
  }
  return false;
}

[[noreturn]] void keep_chilli(pid_t supervisor, char* const argv[]) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = keeper_stop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  // A supervisor that died before prctl() sent no signal.
  if (getppid() != supervisor) {
    _exit(0);
  }
  for (;;) {
    // The chilli a killed keeper left running, or the one the keeper of a
    // killed supervisor is stopping: the portal comes back once it is gone.
    if (chilli_running()) {
      LOG("chillispot already running, waiting for it to exit\n");
      do {
        os_sleep(kChilliPollPause);
      } while (chilli_running());
    }
    LOG("starting chillispot...\n");
    our_system("chilli", argv);
    if (g_keeper_stopping) {
      LOG("portal keeper ends, chillispot with it\n");
      _exit(0);
    }
    LOG("chillispot has died, pausing before restart.\n");
    os_sleep(kChilliRestartPause);
  }
}

// 0 once a keeper runs beside the caller, -1 when the fork failed.
int fork_keeper() {
  const pid_t supervisor = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    LOG("%s: failed to fork in run_chilli()\n", "run_chilli_bg");
    return -1;
  }
  if (pid == 0) {
    keep_chilli(supervisor, g_chilli_argv);
  }
  g_keeper = pid;
  return 0;
}

}  // namespace

int run_chilli_bg(char* const argv[]) {
  g_chilli_argv = argv;
  if (fork_keeper() != 0) {
    return -1;
  }
  os_sleep(kKeeperStartWait);
  return 0;
}

void respawn_chilli_bg() {
  if (!g_chilli_argv) {
    return;
  }
  if (g_keeper != 0) {
    int status;
    pid_t waited = waitpid(g_keeper, &status, WNOHANG);
    if (waited == 0 || (waited < 0 && errno != ECHILD)) {
      return;
    }
    // Reaped here, so no zombie is left; its chilli, if still running, now
    // belongs to init.
    LOG("portal keeper has died, starting a new one\n");
    g_keeper = 0;
  }
  fork_keeper();
}

void portal_proc_override(const char* dir) { g_proc_dir = dir ? dir : "/proc"; }

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
    LOG("failed to remove offline reason file '%s': %s\n", link, strerror(errno));
  }
}

void repoint_offline_reason(const char* link, const char* page) {
  remove_offline_reason(link);
  write_offline_reason(link, page);
}
