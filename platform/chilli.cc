// Stand-in for the captive portal daemon `chilli`, for tests and the demo
// only (never part of a firmware image). It records what the supervisor does
// to the portal in a journal, one tab-separated line per event:
//   <unix time with ms> start <pid> <arg1> <arg2> ...
//   <unix time with ms> signal <pid> <SIGNAME> <number>
//   <unix time with ms> exit <pid> <status>
// Environment:
//   CHILLI_JOURNAL     journal path (default /var/run/chilli.journal)
//   CHILLI_EXIT_AFTER  seconds after which it ends by itself (0 = at once)
//   CHILLI_EXIT_HOW    "exit" (status 3, default) or "crash" (SIGSEGV)
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

struct SignalName {
  int number;
  const char* name;
};

// Names as the platform's own headers number them.
const SignalName kSignals[] = {
    {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"},
    {SIGUSR2, "SIGUSR2"}, {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"},
    {SIGCHLD, "SIGCHLD"}, {SIGCONT, "SIGCONT"}, {SIGTSTP, "SIGTSTP"}, {SIGTTIN, "SIGTTIN"},
    {SIGTTOU, "SIGTTOU"}, {SIGURG, "SIGURG"},   {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},
    {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"}, {SIGWINCH, "SIGWINCH"}, {SIGIO, "SIGIO"},
    {SIGPWR, "SIGPWR"},   {SIGSYS, "SIGSYS"},   {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"},
};

const char* signal_name(int number) {
  for (const SignalName& s : kSignals) {
    if (s.number == number) {
      return s.name;
    }
  }
  return "SIGUNKNOWN";
}

int g_journal = -1;

void journal(const char* text) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  char line[4096];
  int n = snprintf(line, sizeof line, "%lld.%03d\t%s\n", static_cast<long long>(tv.tv_sec),
                   static_cast<int>(tv.tv_usec / 1000), text);
  if (n > 0 && g_journal >= 0) {
    ssize_t ignored = write(g_journal, line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
    (void)ignored;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = getenv("CHILLI_JOURNAL");
  g_journal = open(path ? path : "/var/run/chilli.journal", O_WRONLY | O_CREAT | O_APPEND, 0644);

  char text[3072];
  int len = snprintf(text, sizeof text, "start\t%d", static_cast<int>(getpid()));
  for (int i = 1; i < argc && len < static_cast<int>(sizeof text); ++i) {
    len += snprintf(text + len, sizeof text - len, "\t%s", argv[i]);
  }
  // Signals are held before the start is journaled: a test that signals
  // chilli as soon as it sees the start line must never kill it.
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGSEGV);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  journal(text);

  const char* after = getenv("CHILLI_EXIT_AFTER");
  double left = after ? atof(after) : -1;
  const char* how = getenv("CHILLI_EXIT_HOW");
  bool crash = how && strcmp(how, "crash") == 0;

  for (;;) {
    if (after && left <= 0) {
      if (crash) {
        journal("crash");
        sigprocmask(SIG_UNBLOCK, &all, nullptr);
        // A sanitizer runtime catches SIGSEGV and exits with a report; the
        // crash must reach the keeper as death by the signal.
        signal(SIGSEGV, SIG_DFL);
        raise(SIGSEGV);
      }
      snprintf(text, sizeof text, "exit\t%d\t3", static_cast<int>(getpid()));
      journal(text);
      return 3;
    }
    struct timespec wait = {1, 0};
    if (after && left < 1) {
      wait.tv_sec = 0;
      wait.tv_nsec = static_cast<long>(left * 1e9);
    }
    struct timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    siginfo_t got[32];
    int n = sigtimedwait(&all, &got[0], &wait) > 0 ? 1 : 0;
    struct timespec t1;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    left -= static_cast<double>(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    // Signals pending together are taken lowest number first, whatever the
    // order they were sent in; each comes from a killall of its own, forked
    // in the order of sending, so they are journaled by the sender's pid.
    const struct timespec none = {0, 0};
    while (n > 0 && n < 32 && sigtimedwait(&all, &got[n], &none) > 0) ++n;
    std::sort(got, got + n, [](const siginfo_t& a, const siginfo_t& b) { return a.si_pid < b.si_pid; });
    for (int i = 0; i < n; ++i) {
      int sig = got[i].si_signo;
      snprintf(text, sizeof text, "signal\t%d\t%s\t%d", static_cast<int>(getpid()), signal_name(sig), sig);
      journal(text);
      if (sig == SIGTERM || sig == SIGINT) {
        snprintf(text, sizeof text, "exit\t%d\t0", static_cast<int>(getpid()));
        journal(text);
        return 0;
      }
    }
  }
}
