// Stand-in for the router's killall in cross builds, for tests only:
// "killall [-N] NAME..." sends signal number N (SIGTERM without one) to every
// process named NAME, and exits 1 with "NAME: no process found" when none
// was. Built for the target and run through the emulator, it hands the
// target's numbers (on MIPS 16 is SIGUSR1, 17 SIGUSR2, 19 SIGPWR) to the
// kernel translated, which the host's own killall would read as its own.
#include <ctype.h>
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

// Sends `signo` to each process whose name (/proc/PID/comm) is `name`;
// returns how many there were.
int signal_by_name(const char* name, int signo) {
  DIR* proc = opendir("/proc");
  if (!proc) {
    return 0;
  }
  int found = 0;
  while (const dirent* e = readdir(proc)) {
    if (!isdigit(static_cast<unsigned char>(e->d_name[0]))) {
      continue;
    }
    pid_t pid = static_cast<pid_t>(atoi(e->d_name));
    char path[300], comm[64] = "";
    snprintf(path, sizeof path, "/proc/%s/comm", e->d_name);
    FILE* f = fopen(path, "r");
    if (!f) {
      continue;  // gone meanwhile
    }
    if (fgets(comm, sizeof comm, f)) {
      comm[strcspn(comm, "\n")] = '\0';
    }
    fclose(f);
    // The kernel keeps 15 characters of a name.
    if (pid != getpid() && strncmp(comm, name, 15) == 0 && strlen(comm) == strnlen(name, 15) &&
        kill(pid, signo) == 0) {
      ++found;
    }
  }
  closedir(proc);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  int signo = SIGTERM;
  int first = 1;
  if (argc > 1 && argv[1][0] == '-' && isdigit(static_cast<unsigned char>(argv[1][1]))) {
    signo = atoi(argv[1] + 1);
    first = 2;
  }
  if (first >= argc) {
    fprintf(stderr, "usage: killall [-N] NAME...\n");
    return 2;
  }
  int rc = 0;
  for (int i = first; i < argc; ++i) {
    if (signal_by_name(argv[i], signo) == 0) {
      fprintf(stderr, "%s: no process found\n", argv[i]);
      rc = 1;
    }
  }
  return rc;
}
