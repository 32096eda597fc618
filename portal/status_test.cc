#include "portal/status.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/clock.h"
#include "portal/portal.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

time_t g_now = 1700000000;
time_t fake_now() { return g_now; }
void no_sleep(unsigned) {}
const OsClock kClock = {fake_now, no_sleep};

std::string status_text() { return read_file(kStatusPath); }

// The record's lifetime is the process's, so one test walks it through a
// whole life in order.
TEST(StatusFile, FollowsTheSupervisorsLifeAndWritesCountersOnlyWithAStateOrHeartbeat) {
  SW_SKIP_UNLESS_ROOT(private_var_run(), "a private /var/run");
  os_clock_override(&kClock);
  status_enter(status_state::starting, kPageStartup);
  std::string pid = std::to_string(getpid());
  EXPECT_EQ("state=starting\nsince=1700000000\npage=/www/zelvanet_R002.html\nlast_heartbeat_ok=0\n"
            "last_heartbeat_failed=0\nheartbeats_ok=0\nheartbeats_failed=0\nwebpings_ok=0\n"
            "webpings_failed=0\nportal_updates=0\nradius_server=none\npid=" + pid +
                "\nversion=GX4410-3.01-1.0.0\n",
            status_text());
  EXPECT_NE(0, access("/var/run/spotwarden.status.NEW", F_OK)) << "no side file is left behind";

  // A page change keeps `since`; counters wait for the next write.
  g_now += 5;
  status_enter(status_state::portal_config, kPageStartup);
  g_now += 5;
  status_enter(status_state::portal_config, kPageUpdateFailed);
  status_portal_installed();
  status_radius_answered("radius.example.com");
  std::string text = status_text();
  EXPECT_NE(std::string::npos, text.find("state=portal-config\nsince=1700000005\npage=/www/zelvanet_R003.html\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("portal_updates=0\nradius_server=none\n")) << text;

  g_now += 5;
  status_enter(status_state::online, nullptr);
  status_webping(true);
  status_webping(false);
  status_webping(false);
  text = status_text();
  EXPECT_NE(std::string::npos, text.find("state=online\nsince=1700000015\npage=none\n")) << text;
  EXPECT_NE(std::string::npos, text.find("webpings_ok=0\nwebpings_failed=0\nportal_updates=1\n"
                                         "radius_server=radius.example.com\n"))
      << text;

  // Every heartbeat writes; only the one that changes the state moves `since`.
  g_now += 30;
  status_heartbeat(true);
  status_enter(status_state::online, nullptr);
  g_now += 30;
  status_heartbeat(false);
  status_enter(status_state::offline, kPageProbeLost);
  g_now += 10;
  status_heartbeat(false);
  status_enter(status_state::offline, kPageProbeLost);
  text = status_text();
  EXPECT_NE(std::string::npos,
            text.find("state=offline\nsince=1700000075\npage=/www/zelvanet_R001.html\n"
                      "last_heartbeat_ok=1700000045\nlast_heartbeat_failed=1700000085\n"
                      "heartbeats_ok=1\nheartbeats_failed=2\nwebpings_ok=1\nwebpings_failed=2\n"))
      << text;

  // A file that cannot be replaced stays as it was; the loop goes on.
  LogCapture logs;
  ASSERT_EQ(0, mkdir("/var/run/spotwarden.status.NEW", 0755));
  status_heartbeat(true);
  status_enter(status_state::online, nullptr);
  EXPECT_EQ(text, status_text());
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: status_write: cannot write /var/run/spotwarden.status: "));
  ASSERT_EQ(0, rmdir("/var/run/spotwarden.status.NEW"));
  status_heartbeat(true);
  status_enter(status_state::online, nullptr);
  EXPECT_NE(std::string::npos, status_text().find("state=online\nsince=1700000085\n")) << status_text();
  os_clock_override(nullptr);
}

}  // namespace
