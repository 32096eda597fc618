// Test helpers that give the test process private copies of what the router
// code works on, so tests never touch the host's:
// - private_tmpfs(dir): a private mount namespace (made once per process)
//   with an empty tmpfs on `dir`; private_var_run() does it once for /run
//   (= /var/run), for code that uses fixed paths such as
//   /var/run/offline-reason;
// - private_loopback(): a private network namespace with only loopback up, so
//   raw ICMP sockets see this test's own packets and nothing of a test that
//   runs beside it;
// - PrivateNetns: a fixture whose every test gets an empty network namespace
//   of its own, so interfaces and addresses can be made freely.
// All need root; the helpers return false and the fixture skips, naming why,
// otherwise.
#pragma once

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/unique.h"

// Skips the running test unless `ready`, saying in the test output that it is
// a root-only test and what it needs: ctest lists it as skipped, gtest prints
// the reason, and a run without root never passes for green in silence.
#define SW_SKIP_UNLESS_ROOT(ready, needs)                                              \
  if (!(ready))                                                                        \
  GTEST_SKIP() << "root-only test " << ::testing::UnitTest::GetInstance()->current_test_suite()->name() \
               << "." << ::testing::UnitTest::GetInstance()->current_test_info()->name()            \
               << " skipped: needs root for " << (needs)

inline bool private_mount_namespace() {
  static int done = -1;
  if (done < 0) {
    done = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  return done == 1;
}

inline bool private_tmpfs(const char* dir, const char* name) {
  return private_mount_namespace() && mount(name, dir, "tmpfs", 0, "mode=0755") == 0;
}

inline bool private_var_run() {
  static int done = -1;
  if (done < 0) {
    done = private_tmpfs("/run", "test-run");
  }
  return done == 1;
}

// A new, empty network namespace for this process.
inline bool private_netns() { return geteuid() == 0 && unshare(CLONE_NEWNET) == 0; }

inline bool private_loopback() {
  static int done = -1;
  if (done < 0) {
    done = 0;
    if (private_netns()) {
      UniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
      struct ifreq ifr;
      memset(&ifr, 0, sizeof ifr);
      strncpy(ifr.ifr_name, "lo", sizeof ifr.ifr_name - 1);
      if (fd && ioctl(fd.get(), SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags |= IFF_UP;
        done = ioctl(fd.get(), SIOCSIFFLAGS, &ifr) == 0;
      }
    }
  }
  return done == 1;
}

class PrivateNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    SW_SKIP_UNLESS_ROOT(private_netns(), "a private network namespace");
  }
  // Runs an "ip ..." command line in the test's namespace.
  static void ip(const std::string& args) {
    std::string cmd = "ip " + args + " >/dev/null 2>&1";
    ASSERT_EQ(0, system(cmd.c_str())) << cmd;
  }
};
