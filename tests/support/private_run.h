// Test helpers that give the test process private copies of what the router
// code works on, so tests never touch the host's:
// - private_var_run(): a private mount namespace with an empty tmpfs on /run
//   (= /var/run), for code that uses fixed paths such as /var/run/offline-reason;
// - private_loopback(): a private network namespace with only loopback up, so
//   raw ICMP sockets see this test's own packets and nothing of a test that
//   runs beside it.
// Both need root; they return false (and the test should skip) otherwise.
#pragma once

#include <net/if.h>
#include <sched.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
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

inline bool private_loopback() {
  static int done = -1;
  if (done < 0) {
    done = 0;
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0) {
      int fd = socket(AF_INET, SOCK_DGRAM, 0);
      struct ifreq ifr;
      memset(&ifr, 0, sizeof ifr);
      strncpy(ifr.ifr_name, "lo", sizeof ifr.ifr_name - 1);
      if (fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags |= IFF_UP;
        done = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
      }
      if (fd >= 0) {
        close(fd);
      }
    }
  }
  return done == 1;
}
