#include "os/runner.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "build_config.h"
#include "os/log.h"

namespace {

// The child the runner waits for; the only datum shared with the signal
// handlers (alarm_kill(), our_system_signal()).
volatile sig_atomic_t gpid = 0;

// Blocks every signal for the lifetime of the object, so that no handler
// that acts on the child (the alarm's, the portal keeper's) can land between
// fork() and the moment gpid names the new child.
class ForkBlock final {
 public:
  ForkBlock() {
    sigset_t set;
    sigfillset(&set);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~ForkBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  ForkBlock(const ForkBlock&) = delete;
  ForkBlock& operator=(const ForkBlock&) = delete;
  const sigset_t& old_mask() const { return old_; }

 private:
  sigset_t old_;
};

// Options whose value is a shared secret, given to chilli on its command line.
constexpr const char* kSecretOptions[] = {"--radiussecret", "--uamsecret", "--secret"};

bool names_secret(const char* arg) {
  for (const char* option : kSecretOptions) {
    if (strcmp(arg, option) == 0) {
      return true;
    }
  }
  return false;
}

// Length of "OPTION=" when `arg` carries a secret joined to its option, as
// getopt_long accepts it; 0 otherwise.
size_t joined_secret_prefix(const char* arg) {
  for (const char* option : kSecretOptions) {
    size_t n = strlen(option);
    if (strncmp(arg, option, n) == 0 && arg[n] == '=') {
      return n + 1;
    }
  }
  return 0;
}

}  // namespace

// The interrupted code may be about to read errno (the runner's waitpid()
// loop tells EINTR apart), so kill() must not leave its own there.
int our_system_signal(int signo) {
  int saved = errno;
  int result = gpid != 0 && kill(static_cast<pid_t>(gpid), signo) == 0 ? 0 : -1;
  errno = saved;
  return result;
}

void alarm_kill(int) { our_system_signal(SIGKILL); }

void format_args(char* const argv[], char out[512]) {
  size_t len = 0;
  int budget = 511;
  out[0] = '\0';
  auto append = [&](const char* text, size_t n) {
    memcpy(out + len, text, n);
    len += n;
    out[len] = '\0';
  };
  bool hide_value = false;
  for (size_t i = 0; argv[i] != nullptr; ++i) {
    // The longest option with '=' and the mask fit with room to spare.
    char masked[32];
    const char* rest = argv[i];
    if (hide_value) {
      rest = kSecretMask;
    } else if (size_t prefix = joined_secret_prefix(argv[i]); prefix != 0) {
      snprintf(masked, sizeof masked, "%.*s%s", static_cast<int>(prefix), argv[i], kSecretMask);
      rest = masked;
    }
    // A secret that happens to read "--secret" is a value, not an option.
    hide_value = !hide_value && names_secret(argv[i]);
    size_t left = strlen(rest);
    while (left >= 56 && budget >= 61) {
      append(rest, 55);
      append(" ... ", 5);
      rest += 55;
      left -= 55;
      budget -= 60;
    }
    size_t take = left < static_cast<size_t>(budget) ? left : static_cast<size_t>(budget);
    append(rest, take);
    budget -= static_cast<int>(take);
    if (budget > 0) {
      append(" ", 1);
      budget -= 1;
    }
  }
}

void log_args(char* const argv[]) {
  char line[512];
  format_args(argv, line);
  DEBUG("executing: %s\n", line);
}

int our_system(const char* path, char* const argv[]) {
  log_args(argv);
  pid_t pid;
  {
    ForkBlock block;
    pid = fork();
    if (pid == 0) {
      sigprocmask(SIG_SETMASK, &block.old_mask(), nullptr);
      execvp(path, argv);
      LOG("failed to exec: %s!\n", path);
      // Never return into the caller's code as a second supervisor.
      _exit(127);
    }
    if (pid < 0) {
      LOG("our_system() failed to fork for: %s\n", path);
      return -1;
    }
    gpid = pid;
  }

  int status = 0;
  pid_t waited;
  while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    // the alarm only kills; the wait goes on until the child ends
  }
  // Once reaped, the id may be given to an unrelated process: a late alarm
  // must not kill it.
  gpid = 0;
  if (waited < 0) {
    LOG("%s: waitpid() for '%s' error: %s", "our_system", path, strerror(errno));
    return -1;
  }
  int result;
  if (WIFEXITED(status)) {
    result = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    // A killed child has no exit status; report it as shells do, never as 0.
    result = 128 + WTERMSIG(status);
  } else {
    result = -1;
  }
  DEBUG("child '%s' exited with status: %d", path, result);
  return result;
}

int our_system_timeout(const char* path, char* const argv[], unsigned secs) {
  gpid = 0;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = alarm_kill;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  alarm(secs);
  int result = our_system(path, argv);
  alarm(0);
  return result;
}

int run_wget(const char* url, const char* path) {
  char wget[] = "wget";
  char quiet[] = "-q";
  char ca_opt[] = "--ca-certificate=" SPOTWARDEN_CA_CERTIFICATE;
  char out_opt[] = "-O";
  char dev_null[] = "/dev/null";
  char end_of_options[] = "--";
  char* argv[8];
  size_t n = 0;
  argv[n++] = wget;
  argv[n++] = quiet;
  // Without a CA file of the build's, wget verifies https servers with its
  // own trust store; it never skips the check.
  if (SPOTWARDEN_CA_CERTIFICATE[0] != '\0') {
    argv[n++] = ca_opt;
  }
  argv[n++] = out_opt;
  argv[n++] = path ? const_cast<char*>(path) : dev_null;
  // "--": a downloaded URL that begins with '-' is never read as an option.
  argv[n++] = end_of_options;
  argv[n++] = const_cast<char*>(url);
  argv[n] = nullptr;
  // The settings copy and the portal configuration's side file may hold the
  // RADIUS secret: what wget creates is readable by its owner only.
  mode_t old_mask = umask(077);
  int result = our_system_timeout("wget", argv, kCommandTimeLimit);
  umask(old_mask);
  return result;
}
