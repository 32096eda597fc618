// Test helper: each test gets a private, empty network namespace of its own,
// so interfaces and addresses can be made freely (needs root).
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

class PrivateNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
      GTEST_SKIP() << "needs root to make a private network namespace";
    }
  }
  // Runs an "ip ..." command line in the test's namespace.
  static void ip(const std::string& args) {
    std::string cmd = "ip " + args + " >/dev/null 2>&1";
    ASSERT_EQ(0, system(cmd.c_str())) << cmd;
  }
};
