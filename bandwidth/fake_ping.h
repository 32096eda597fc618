// Test support: a private /var/tmp and a scripted `ping` first on PATH, so
// linkgauge's shell commands run for real against prepared answers.
//
// The script logs each argument list to DIR/log. "-t" bursts only log.
// Other pings print DIR/host.HOST when it exists; otherwise they take the
// next line of DIR/times: a number is printed as a busybox summary with
// that average, "none" (or an empty queue) as an unanswered ping.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"

// An anonymous file holding `text`, read from its start.
struct TextFile {
  explicit TextFile(const std::string& text) : f(tmpfile()) {
    fputs(text.c_str(), f);
    rewind(f);
  }
  ~TextFile() { fclose(f); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  FILE* f;
};

class FakePingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root for a private /var/tmp";
    }
    // The result and ping files have fixed paths under /var/tmp: give this
    // test process its own, empty one.
    ASSERT_EQ(0, unshare(CLONE_NEWNS));
    ASSERT_EQ(0, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr));
    ASSERT_EQ(0, mount("lgtest", "/var/tmp", "tmpfs", 0, "mode=0755"));
    char tmpl[] = "/tmp/lgpingXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    write(dir_ + "/ping",
          "#!/bin/sh\n"
          "d=" + dir_ + "\n"
          "echo \"$*\" >> $d/log\n"
          "[ \"$1\" = -t ] && exit 0\n"
          "for host; do :; done\n"
          "if [ -f \"$d/host.$host\" ]; then cat \"$d/host.$host\"; exit 0; fi\n"
          "t=$(head -n 1 $d/times 2>/dev/null); sed -i 1d $d/times 2>/dev/null\n"
          "echo \"PING $host ($host): 56 data bytes\"\n"
          "if [ -z \"$t\" ] || [ \"$t\" = none ]; then\n"
          "  printf '\\n--- %s ping statistics ---\\n1 packets transmitted, 0 packets received, "
          "100%% packet loss\\n' \"$host\"; exit 1; fi\n"
          "printf '64 bytes from %s: seq=0 ttl=64 time=%s ms\\n\\n--- %s ping statistics ---\\n"
          "1 packets transmitted, 1 packets received, 0%% packet loss\\n"
          "round-trip min/avg/max = %s/%s/%s ms\\n' \"$host\" \"$t\" \"$host\" \"$t\" \"$t\" \"$t\"\n");
    chmod((dir_ + "/ping").c_str(), 0755);
    old_path_ = getenv("PATH");
    setenv("PATH", (dir_ + ":" + old_path_).c_str(), 1);
    static const OsClock kNoWait = {[] { return static_cast<time_t>(0); }, [](unsigned) {}};
    os_clock_override(&kNoWait);
  }

  void TearDown() override {
    os_clock_override(nullptr);
    if (!dir_.empty()) {
      setenv("PATH", old_path_.c_str(), 1);
      system(("rm -rf " + dir_).c_str());
    }
  }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream f(path);
    if (!f) {
      return "<missing>";
    }
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  // Probe times in ms (0 stands for an unanswered probe).
  void queue_times(const std::vector<double>& times) {
    std::ostringstream s;
    for (double t : times) {
      if (t == 0) {
        s << "none\n";
      } else {
        s << t << "\n";
      }
    }
    write(dir_ + "/times", s.str());
  }
  // Every ping to `host` prints `output`.
  void answer(const std::string& host, const std::string& output) { write(dir_ + "/host." + host, output); }
  void answer_ok(const std::string& host) {
    answer(host, "PING " + host + " (" + host + "): 56 data bytes\n"
           "64 bytes from " + host + ": seq=0 ttl=64 time=0.1 ms\n\n--- " + host + " ping statistics ---\n"
           "1 packets transmitted, 1 packets received, 0% packet loss\n"
           "round-trip min/avg/max = 0.1/0.1/0.1 ms\n");
  }

  std::vector<std::string> pings() {
    std::vector<std::string> out;
    std::ifstream f(dir_ + "/log");
    for (std::string line; std::getline(f, line);) {
      out.push_back(line);
    }
    return out;
  }

  std::string dir_;
  std::string old_path_;
};
