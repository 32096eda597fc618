#include "supervisor/talkback.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "common/clock.h"
#include "config/spotwarden_conf.h"
#include "supervisor/hotspot.h"
#include "tests/support/files.h"
#include "tests/support/fake_programs.h"
#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

TEST(AdvanceDeadline, KeepsTheGridAndSkipsMissedPointsPast2038AndForInt32Intervals) {
  struct Case {
    grid_time now, deadline;
    int interval;
    grid_time expected;
  } cases[] = {
      {1121, 1120, 30, 1150},           // first probe after the set-up time
      {1121, 1120, 3600, 4720},         // first web ping
      {1151, 1150, 10, 1160},           // failed probe: failure wait
      {1150, 1150, 30, 1180},           // a deadline equal to now still moves
      {1000005, 1210, 30, 1000030},     // clock set forward: once, then on the grid
      {1000, 1210, 30, 1210},           // clock set back: nothing moves
      {1300, 1210, 1, 1301},            // smallest interval
      {1121, 1120, 2147483647, 2147484767},              // "never": one int32 interval ahead
      {2147483653, 2147483640, 30, 2147483670},          // 2038-01-19 03:14:13 UTC
      {4102444801, 2147483647, 2147483647, 4294967294},  // 2100, int32 interval
      {10000000000, 0, 30, 10000000020},                 // a gap past 2^32 seconds
      {10000000000, 7, 2147483647, 10737418242},         // ... and an int32 interval
  };
  for (const Case& c : cases) {
    grid_time d = c.deadline;
    advance_deadline(c.now, &d, c.interval);
    EXPECT_EQ(c.expected, d) << "now " << c.now << " deadline " << c.deadline << " interval " << c.interval;
  }
}

// A clock that moves only when the code under test sleeps: g_now on the
// monotonic clock, the wall clock g_wall_step away from it.
time_t g_now;
time_t g_wall_step;
time_t fake_wall() { return g_now + g_wall_step; }
int64_t fake_monotonic() { return g_now; }
void fake_sleep(unsigned secs) { g_now += secs; }
const OsClock kFakeClock = {fake_wall, fake_sleep, fake_monotonic};

class TalkbackTick : public ::testing::Test {
 protected:
  void SetUp() override {
    SW_SKIP_UNLESS_ROOT(private_var_run() && private_loopback(), "a private /var/run and raw ICMP sockets");
    unlink("/var/run/offline-reason");
    // Every outside program records itself, in one journal, in call order.
    fakes_.program("wget", "echo \"wget $*\" >> \"$D/events\"");
    fakes_.program("killall", "echo \"killall $*\" >> \"$D/events\"");
    spotwarden_conf_new(&settings_);
    free(settings_->icmpping_host);
    settings_->icmpping_host = strdup("127.0.0.1");  // the kernel answers on loopback
    settings_->icmpping_retry_interval = 1;
    args_.radiusnasid = nasid_;
    args_.conf = conf_;
    os_clock_override(&kFakeClock);
    // The loop begins where the control cycle leaves the hotspot: online.
    hotspot_enter(status_state::online, nullptr);
    take_events();
    g_now = 1000;
    g_wall_step = 0;
    talkback_begin(&state_, "?nasid=N", "http://op/config/chilli.conf", &args_, settings_, nullptr);
  }
  void TearDown() override {
    os_clock_override(nullptr);
    spotwarden_conf_free(settings_);
  }
  // Ticks until the clock reads `t`.
  void run_until(time_t t) {
    while (g_now < t) {
      talkback_tick(&state_);
    }
  }
  void probe_fails(bool fails) { settings_->icmpping_retries = fails ? 0 : 2; }  // 0 passes send nothing
  std::string take_events() {
    std::string e = fakes_.read("events");
    unlink(fakes_.path("events").c_str());
    return e;
  }
  static std::string link_target() {
    char buf[256] = {};
    return readlink("/var/run/offline-reason", buf, sizeof buf - 1) > 0 ? buf : "<none>";
  }

  static std::string read_status() { return read_file("/var/run/spotwarden.status"); }

  FakePrograms fakes_;
  LogCapture logs_;
  spotwarden_conf* settings_ = nullptr;
  spotwarden_args args_{};
  char nasid_[32] = "00-1A-2B-3C-4D-5E";
  char conf_[32] = "/var/run/chilli.conf";
  talkback_state state_{};
};

TEST_F(TalkbackTick, FirstJobsAfterSetupTimeThenEachOnItsGrid) {
  run_until(1120);
  EXPECT_EQ("", take_events()) << "nothing is due before the set-up time has passed";
  run_until(1121);
  EXPECT_EQ("wget -q -O /dev/null -- http://portal.example.com/ping?nasid=N\n", take_events());
  EXPECT_EQ(1150, state_.probe_deadline);
  EXPECT_EQ(4720, state_.webping_deadline);
  EXPECT_EQ(15520, state_.refresh_deadline);
  EXPECT_TRUE(logs_.contains(LOG_NOTICE, "spotwarden: web ping successful"));
  EXPECT_TRUE(state_.online);

  run_until(15521);
  std::string events = take_events();
  EXPECT_NE(std::string::npos, events.find("wget -q -O /var/run/chilli.conf.NEW -- http://op/config/chilli.conf\n"))
      << events;
  EXPECT_EQ(29920, state_.refresh_deadline);
}

TEST_F(TalkbackTick, LostProbeSwitchesOfflineAndSkipsJobsThatFallDueMeanwhile) {
  run_until(1121);
  take_events();
  probe_fails(true);
  run_until(1151);
  EXPECT_EQ(1160, state_.probe_deadline);
  EXPECT_EQ("killall -" + std::to_string(SIGUSR1) + " chilli\n", take_events());
  EXPECT_EQ("/www/zelvanet_R001.html", link_target());
  EXPECT_TRUE(logs_.contains(LOG_NOTICE, "spotwarden: router offline - can't ping 127.0.0.1"));
  EXPECT_FALSE(state_.online);
  std::string status = read_status();
  EXPECT_NE(std::string::npos, status.find("state=offline\nsince=1151\npage=/www/zelvanet_R001.html\n"
                                           "last_heartbeat_ok=1121\nlast_heartbeat_failed=1151\n"
                                           "heartbeats_ok=1\nheartbeats_failed=1\nwebpings_ok=1\n"))
      << status;

  // The web ping due at 4720 falls in the offline time: skipped, not made up.
  run_until(4800);
  EXPECT_EQ("", take_events());
  EXPECT_EQ(8320, state_.webping_deadline);

  probe_fails(false);
  run_until(4811);  // next probe at 4810 + the tick after it
  EXPECT_EQ("killall -" + std::to_string(SIGUSR2) + " chilli\n", take_events());
  EXPECT_EQ("<none>", link_target());
  EXPECT_TRUE(logs_.contains(LOG_NOTICE, "spotwarden: router online - successful ping to 127.0.0.1"));
  EXPECT_NE(std::string::npos, read_status().find("state=online\nsince=4801\npage=none\n")) << read_status();
  run_until(8320);
  EXPECT_EQ("", take_events());
  run_until(8321);
  EXPECT_EQ("wget -q -O /dev/null -- http://portal.example.com/ping?nasid=N\n", take_events());
}

TEST_F(TalkbackTick, WallClockStepsLeaveEveryJobOnItsGrid) {
  run_until(1121);
  take_events();
  g_wall_step = 86400;  // a day forward: nothing falls due early
  run_until(4720);
  EXPECT_EQ("", take_events());
  g_wall_step = 86400 - 3600;  // an hour back: nothing is held either
  run_until(4721);
  EXPECT_EQ("wget -q -O /dev/null -- http://portal.example.com/ping?nasid=N\n", take_events());
  EXPECT_EQ(4750, state_.probe_deadline);
  // What is shown keeps the wall clock.
  EXPECT_NE(std::string::npos, read_status().find("last_heartbeat_ok=" + std::to_string(4721 + 86400 - 3600)))
      << read_status();
}

// Operators write the largest int32 to mean "never"; with a 32-bit time_t the
// deadlines wrapped and both jobs ran on every tick.
TEST_F(TalkbackTick, Int32IntervalsPast2038RunEachJobOnceAtMost) {
  settings_->webping_interval = 2147483647;
  settings_->chilliconf_update_interval = 2147483647;
  g_now = 2147483648 + 1000;  // 2038-01-19 03:31:28 UTC
  talkback_begin(&state_, "?nasid=N", "http://op/config/chilli.conf", &args_, settings_, nullptr);
  run_until(g_now + 600);
  EXPECT_EQ("wget -q -O /dev/null -- http://portal.example.com/ping?nasid=N\n", take_events())
      << "one web ping after the set-up time, no refresh";
  EXPECT_EQ(2147483648 + 1120 + 2147483647, state_.webping_deadline);
  EXPECT_EQ(2147483648 + 1120 + 2147483647, state_.refresh_deadline);
  EXPECT_EQ(2147483648 + 1600, state_.probe_deadline) << "the heartbeat keeps its grid";
  EXPECT_TRUE(state_.online);
}

}  // namespace
