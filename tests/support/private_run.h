// Test helper: gives the test process a private mount namespace with an
// empty tmpfs on /run (= /var/run), so code that works on the router's fixed
// paths (/var/run/offline-reason, ...) can run without touching the host's.
// Needs root; returns false (and the test should skip) otherwise.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

inline bool private_var_run() {
  static int done = -1;
  if (done < 0) {
    done = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("test-run", "/run", "tmpfs", 0, "mode=0755") == 0;
  }
  return done == 1;
}
