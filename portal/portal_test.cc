#include "portal/portal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/clock.h"
#include "tests/support/files.h"
#include "tests/support/fake_programs.h"
#include "tests/support/log_capture.h"

namespace {

// Sleeps of the keeper are recorded, then taken as a short real pause.
std::string g_sleep_log;
void record_sleep(unsigned secs) {
  std::ofstream(g_sleep_log, std::ios::app) << secs << "\n";
  usleep(100 * 1000);
}
time_t real_time() { return time(nullptr); }

TEST(SignalChilli, HandsKillallThePlatformNumberOfEachNamedSignal) {
  FakePrograms path;
  std::string record = path.path("killall.args");
  path.program("killall", "echo \"$@\" >> " + record + "; exit 1");
  LogCapture logs;
  // killall's own failure (no chilli running) is returned but harmless.
  EXPECT_EQ(1, chilli_offline());
  EXPECT_EQ(1, chilli_online());
  signal_chilli(SIGPWR);
  signal_chilli(SIGHUP);
#if defined(__mips__)
  EXPECT_EQ("-16 chilli\n-17 chilli\n-19 chilli\n-1 chilli\n", read_file(record));
#elif defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__)
  EXPECT_EQ("-10 chilli\n-12 chilli\n-30 chilli\n-1 chilli\n", read_file(record));
#endif
}

TEST(OfflineReason, CreateNeverReplacesAndRemoveLogsWhenMissing) {
  FakePrograms path;
  std::string link = path.path("offline-reason");
  LogCapture logs;
  EXPECT_EQ(0, write_offline_reason(link.c_str(), kPageStartup));
  EXPECT_EQ(-1, write_offline_reason(link.c_str(), kPageProbeLost));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("/www/zelvanet_R002.html", target);

  repoint_offline_reason(link.c_str(), kPageAuthFailed);
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("/www/zelvanet_R005.html", target);

  remove_offline_reason(link.c_str());
  EXPECT_EQ(0, logs.count("failed to remove offline reason file"));
  remove_offline_reason(link.c_str());
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: failed to remove offline reason file '" + link +
                                             "': No such file or directory"));
}

TEST(PortalKeeper, RestartsChilliAfterEveryExitWithTheExactVectorAndNoZombieStopsIt) {
  FakePrograms path;
  std::string journal = path.path("journal");
  path.program("chilli", "echo \"$# $*\" >> " + journal + "; exit 0");
  // A /proc of its own, away from other tests' chillis, whose one chilli is a zombie.
  const std::string proc = path.path("proc");
  ASSERT_EQ(0, system(("mkdir -p " + proc + "/42").c_str()));
  path.write("proc/42/stat", "42 (chilli) Z 1");
  portal_proc_override(proc.c_str());
  g_sleep_log = path.path("sleeps");
  static const OsClock fake = {real_time, record_sleep};
  os_clock_override(&fake);
  LogCapture logs;

  pid_t supervisor = fork();
  ASSERT_GE(supervisor, 0);
  if (supervisor == 0) {
    setpgid(0, 0);
    char a0[] = "chilli", a1[] = "--conf", a2[] = "/etc/chilli.conf", a3[] = "two words";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    if (run_chilli_bg(argv) == 0) {
      pause();  // the keeper ends with its supervisor
    }
    _exit(1);
  }
  usleep(800 * 1000);
  EXPECT_EQ(0, waitpid(supervisor, nullptr, WNOHANG)) << "run_chilli_bg() failed";
  kill(-supervisor, SIGKILL);  // the keeper kept the process group
  waitpid(supervisor, nullptr, 0);
  os_clock_override(nullptr);
  portal_proc_override(nullptr);

  std::string starts = read_file(journal);
  EXPECT_EQ(0u, starts.find("3 --conf /etc/chilli.conf two words\n"));
  int runs = 0;
  for (char ch : starts) runs += ch == '\n';
  EXPECT_GE(runs, 3);
  // Parent waited 3 s; keeper paused 10 s after each death.
  std::string sleeps = read_file(g_sleep_log);
  EXPECT_EQ(0u, sleeps.find("3\n")) << sleeps;
  EXPECT_NE(std::string::npos, sleeps.find("10\n10\n"));
  EXPECT_GE(logs.count("spotwarden: starting chillispot..."), 3);
  EXPECT_GE(logs.count("spotwarden: chillispot has died, pausing before restart."), 2);
}

}  // namespace
