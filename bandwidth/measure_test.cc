#include "bandwidth/measure.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/side_file.h"
#include "tests/support/fake_ping.h"

namespace {

constexpr char kPingFile[] = "/var/tmp/ping_gw_second.txt";

// Probe times that stay under the limit until the step of `size` bytes.
std::vector<double> quick_until(int size) {
  std::vector<double> t;
  for (int s = 64; s < size; s *= 2) {
    t.push_back(1);
  }
  return t;
}

std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class MeasureTest : public FakePingTest {
 protected:
  std::vector<std::string> probes() {
    std::vector<std::string> out;
    for (const auto& p : pings()) {
      if (p.rfind("-c ", 0) == 0) {
        out.push_back(p);
      }
    }
    return out;
  }
};

TEST_F(MeasureTest, WorkedExampleRoundsEightHundredUpToEightNinetySixInBothFiles) {
  queue_times(quick_until(1024) + std::vector<double>{400, 380, 420, 390, 410});
  ASSERT_EQ(1, measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
  EXPECT_EQ("896", read(kResultFile));
  EXPECT_EQ("896", read(kResultCopyFile));
  auto log = pings();
  ASSERT_EQ(18u, log.size());
  // Each test: the burst of 39 to the nearer gateway, then the timed probe.
  EXPECT_EQ("-t 39 -s 10 10.0.0.1", log[0]);
  EXPECT_EQ("-c 1 -s 10 10.0.0.2", log[1]);
  EXPECT_EQ("-t 39 -s 970 10.0.0.1", log[16]);
  EXPECT_EQ("-c 1 -s 970 10.0.0.2", log[17]);
}

TEST_F(MeasureTest, ProbeTimeOfExactlyTheLimitDoublesTheSize) {
  queue_times({312.5, 400, 400, 400, 400, 400});
  ASSERT_EQ(1, measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
  auto p = probes();
  ASSERT_EQ(6u, p.size());
  EXPECT_EQ("-c 1 -s 74 10.0.0.2", p[1]);
  // 40 x 128 bytes in 400 ms is 100 units, written as 128.
  EXPECT_EQ("128", read(kResultFile));
}

TEST_F(MeasureTest, UnansweredProbeInTheSizeSearchEndsWithoutWriting) {
  queue_times({100, 0, 400, 400, 400, 400, 400});
  EXPECT_EQ(0, measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
  EXPECT_EQ(2u, probes().size());
  EXPECT_EQ("<missing>", read(kResultFile));
  EXPECT_EQ("<missing>", read(kResultCopyFile));
}

TEST_F(MeasureTest, LimitNeverExceededGivesUpAfterTheLargestSize) {
  queue_times(std::vector<double>(12, 300));
  EXPECT_EQ(0, measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
  auto p = probes();
  ASSERT_EQ(10u, p.size());
  EXPECT_EQ("-c 1 -s 32714 10.0.0.2", p.back());
  EXPECT_EQ("<missing>", read(kResultFile));
}

TEST_F(MeasureTest, FailedSamplesAreLeftOutUntilFewerThanThreeRemain) {
  struct Case {
    std::vector<double> samples;
    std::string written;
  } cases[] = {
      // 40 x 16384 bytes: 5 120 000 / T units.
      {{400, 380, 0, 420, 390}, "12962"},  // T = (1590 - 380 - 420) / 2 = 395
      {{400, 0, 380, 0, 420}, "12800"},    // T = the middle sample, 400
      {{400, 0, 0, 0, 420}, "<missing>"},
      {{5000, 5000, 5000, 5000, 5000}, "1024"},
      {{400.5, 380.25, 0, 420.75, 390.125}, "12952"},  // T = 395.3125: 12951.8
  };
  // Run on the musl build too, whose arithmetic is the soft-float helpers':
  // the router writes the figures the host's FPU gives.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    unlink(kResultFile);
    unlink(kResultCopyFile);
    queue_times(quick_until(16384) + c.samples);
    EXPECT_EQ(c.written != "<missing>", measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
    EXPECT_EQ(c.written, read(kResultFile));
    EXPECT_EQ(c.written, read(kResultCopyFile));
  }
}

// A link planted at a side file's name is never followed; a side file that
// cannot be made (here a directory, on the router a full /var/tmp) is skipped.
TEST_F(MeasureTest, ResultsAre0644WhateverTheUmaskThroughNoPlantedLinkAndInPlaceWhenNoSideFile) {
  ASSERT_EQ(0, symlink("/var/tmp/victim", (std::string(kResultFile) + kSideFileSuffix).c_str()));
  ASSERT_EQ(0, mkdir((std::string(kResultCopyFile) + kSideFileSuffix).c_str(), 0700));
  mode_t mask = umask(0);
  write_result_files("896");
  umask(mask);
  EXPECT_EQ("<missing>", read("/var/tmp/victim"));
  struct stat st;
  for (const char* path : {kResultFile, kResultCopyFile}) {
    EXPECT_EQ("896", read(path));
    ASSERT_EQ(0, stat(path, &st));
    EXPECT_EQ(0644u, st.st_mode & 07777) << path;
  }
}

TEST_F(MeasureTest, EmptyBurstHostIsStillMeasured) {
  queue_times({400, 400, 400, 400, 400});
  ASSERT_EQ(1, measure_bandwidth("", "10.0.0.2", kPingFile));
  EXPECT_EQ("-t 39 -s 10", pings()[0]);
}

TEST_F(MeasureTest, HostTextThatCouldChangeTheCommandIsNeverRun) {
  queue_times({400, 400, 400, 400, 400});
  EXPECT_EQ(0, transmit_test_packet(40, 64, "10.0.0.1;touch /var/tmp/owned", "10.0.0.2", kPingFile));
  EXPECT_EQ(0, transmit_test_packet(40, 64, "10.0.0.1", "$(reboot)", kPingFile));
  EXPECT_EQ(0, transmit_test_packet(40, 64, "-f", "10.0.0.2", kPingFile));
  EXPECT_TRUE(pings().empty());
  EXPECT_EQ("<missing>", read("/var/tmp/owned"));
}

TEST_F(MeasureTest, SummaryLabelWithAFourthFieldIsNotRecognised) {
  answer("10.0.0.2",
         "PING 10.0.0.2 (10.0.0.2) 10(38) bytes of data.\n"
         "18 bytes from 10.0.0.2: icmp_seq=1 ttl=64 time=400 ms\n\n"
         "--- 10.0.0.2 ping statistics ---\n"
         "1 packets transmitted, 1 received, 0% packet loss, time 0ms\n"
         "rtt min/avg/max/mdev = 400.000/400.000/400.000/0.000 ms\n");
  EXPECT_EQ(0, transmit_test_packet(40, 64, "10.0.0.1", "10.0.0.2", kPingFile));
  EXPECT_EQ(0, measure_bandwidth("10.0.0.1", "10.0.0.2", kPingFile));
  EXPECT_EQ("<missing>", read(kResultFile));
}

TEST(PingLineAverage, TakesTheMiddleTimeOfTheSummaryWhole) {
  char avg[kLineSize] = "old";
  EXPECT_EQ(0, ping_line_average("1 packets transmitted, 1 packets received, 0% packet loss\n", avg, sizeof avg));
  EXPECT_STREQ("old", avg);
  EXPECT_EQ(1, ping_line_average("round-trip min/avg/max = 1.5/2.25/3.0 ms\n", avg, sizeof avg));
  EXPECT_STREQ("2.25", avg);
  // Longer than the router's original 10-byte text.
  EXPECT_EQ(1, ping_line_average("round-trip min/avg/max = 1/123456789.125/2 ms\n", avg, sizeof avg));
  EXPECT_STREQ("123456789.125", avg);
  // A summary cut short or without '/' gives no time.
  EXPECT_EQ(1, ping_line_average("round-trip min/avg/max =\n", avg, sizeof avg));
  EXPECT_STREQ("", avg);
  EXPECT_EQ(1, ping_line_average("round-trip min/avg/max = 2.5 ms\n", avg, sizeof avg));
  EXPECT_STREQ("", avg);
}

TEST(PingLineAverage, LastSummaryOfTheOutputWins) {
  TextFile t("round-trip min/avg/max = 1/2/3 ms\nnoise\nround-trip min/avg/max = 4/512.5/6 ms\n");
  EXPECT_FLOAT_EQ(512.5f, read_ping_average(t.f));
}

TEST(RoundEstimate, BelowTenTwentyFourGoesUpOntoTheGrid) {
  EXPECT_FLOAT_EQ(128, round_estimate(100));
  EXPECT_FLOAT_EQ(128, round_estimate(128));
  EXPECT_FLOAT_EQ(256, round_estimate(128.5f));
  EXPECT_FLOAT_EQ(1024, round_estimate(1000));
  EXPECT_FLOAT_EQ(1024, round_estimate(1024));
  EXPECT_FLOAT_EQ(5000.4f, round_estimate(5000.4f));
}

}  // namespace
