// Test support: a private /var/tmp and a scripted `ping` first on PATH, so
// linkgauge's shell commands run for real against prepared answers.
//
// The script logs each argument list to DIR/log. "-t" bursts only log.
// Other pings print DIR/host.HOST when it exists; otherwise they take the
// next line of DIR/times: a number is printed as a busybox summary with
// that average, "none" (or an empty queue) as an unanswered ping.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/unique.h"
#include "tests/support/fake_programs.h"
#include "tests/support/files.h"
#include "tests/support/namespaces.h"

// An anonymous file holding `text`, read from its start.
struct TextFile {
  explicit TextFile(const std::string& text) : owner(tmpfile()), f(owner.get()) {
    fputs(text.c_str(), f);
    rewind(f);
  }
  UniqueFile owner;
  FILE* f;
};

class FakePingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The result and ping files have fixed paths under /var/tmp: give this
    // test its own, empty one.
    SW_SKIP_UNLESS_ROOT(private_tmpfs("/var/tmp", "lgtest"), "a private /var/tmp");
    fakes_.program("ping",
                   "echo \"$*\" >> $D/log\n"
                   "[ \"$1\" = -t ] && exit 0\n"
                   "for host; do :; done\n"
                   "if [ -f \"$D/host.$host\" ]; then cat \"$D/host.$host\"; exit 0; fi\n"
                   "t=$(head -n 1 $D/times 2>/dev/null); sed -i 1d $D/times 2>/dev/null\n"
                   "echo \"PING $host ($host): 56 data bytes\"\n"
                   "if [ -z \"$t\" ] || [ \"$t\" = none ]; then\n"
                   "  printf '\\n--- %s ping statistics ---\\n1 packets transmitted, 0 packets received, "
                   "100%% packet loss\\n' \"$host\"; exit 1; fi\n"
                   "printf '64 bytes from %s: seq=0 ttl=64 time=%s ms\\n\\n--- %s ping statistics ---\\n"
                   "1 packets transmitted, 1 packets received, 0%% packet loss\\n"
                   "round-trip min/avg/max = %s/%s/%s ms\\n' \"$host\" \"$t\" \"$host\" \"$t\" \"$t\" \"$t\"");
    static const OsClock kNoWait = {[] { return static_cast<time_t>(0); }, [](unsigned) {}};
    os_clock_override(&kNoWait);
  }

  void TearDown() override { os_clock_override(nullptr); }

  static void write(const std::string& path, const std::string& text) { write_file(path, text); }
  static std::string read(const std::string& path) {
    return file_exists(path) ? read_file(path) : "<missing>";
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
    fakes_.write("times", s.str());
  }
  // Every ping to `host` prints `output`.
  void answer(const std::string& host, const std::string& output) { fakes_.write("host." + host, output); }
  void answer_ok(const std::string& host) {
    answer(host, "PING " + host + " (" + host + "): 56 data bytes\n"
           "64 bytes from " + host + ": seq=0 ttl=64 time=0.1 ms\n\n--- " + host + " ping statistics ---\n"
           "1 packets transmitted, 1 packets received, 0% packet loss\n"
           "round-trip min/avg/max = 0.1/0.1/0.1 ms\n");
  }

  std::vector<std::string> pings() {
    std::vector<std::string> out;
    std::istringstream f(fakes_.read("log"));
    for (std::string line; std::getline(f, line);) {
      out.push_back(line);
    }
    return out;
  }

  FakePrograms fakes_;
};
