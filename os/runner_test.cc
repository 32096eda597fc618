#include "os/runner.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <syslog.h>
#include <time.h>

#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

std::string line_of(std::initializer_list<const char*> args) {
  std::vector<char*> argv;
  for (const char* a : args) {
    argv.push_back(const_cast<char*>(a));
  }
  argv.push_back(nullptr);
  char out[512];
  format_args(argv.data(), out);
  return out;
}

TEST(Runner, PassesExitStatusThrough) {
  LogCapture logs;
  char sh[] = "sh", c[] = "-c", cmd[] = "exit 7";
  char* argv[] = {sh, c, cmd, nullptr};
  EXPECT_EQ(7, our_system("sh", argv));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: executing: sh -c exit 7 "));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: child 'sh' exited with status: 7"));
}

TEST(Runner, MissingProgramLogsAndFailsWithoutReturningIntoCaller) {
  LogCapture logs;
  char name[] = "no-such-program-anywhere";
  char* argv[] = {name, nullptr};
  pid_t self = getpid();
  int result = our_system(name, argv);
  ASSERT_EQ(self, getpid()) << "the failed child must never come back here";
  EXPECT_EQ(127, result);
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: failed to exec: no-such-program-anywhere!"));
}

TEST(Runner, KilledChildIsAFailureNotStatusZero) {
  char sh[] = "sh", c[] = "-c", cmd[] = "kill -TERM $$";
  char* argv[] = {sh, c, cmd, nullptr};
  EXPECT_EQ(128 + SIGTERM, our_system("sh", argv));
}

TEST(Runner, TimedRunnerKillsHangingChildAndCallerGoesOn) {
  char sleep_name[] = "sleep", secs[] = "30";
  char* argv[] = {sleep_name, secs, nullptr};
  time_t start = time(nullptr);
  EXPECT_EQ(128 + SIGKILL, our_system_timeout("sleep", argv, 1));
  EXPECT_LT(time(nullptr) - start, 30) << "the 30 s child ran to its end";
  // The alarm is cancelled: a quick command afterwards is not disturbed.
  char t[] = "true";
  char* argv2[] = {t, nullptr};
  EXPECT_EQ(0, our_system_timeout("true", argv2, 1));
  sleep(2);
}

// The reaped child's id may go to any process; an alarm that lands after
// the wait must neither kill it nor disturb errno for the code it interrupts.
TEST(Runner, LateAlarmAfterTheWaitKillsNothingAndKeepsErrno) {
  char t[] = "true";
  char* argv[] = {t, nullptr};
  ASSERT_EQ(0, our_system_timeout("true", argv, 5));
  errno = EINTR;
  alarm_kill(SIGALRM);
  EXPECT_EQ(EINTR, errno);
}

// A downloaded web-ping URL is handed to wget; one that begins with '-'
// must be a (bad) URL, never an option such as "--version" that succeeds.
TEST(Runner, WgetNeverReadsTheUrlAsAnOption) {
  // No way out: the bad URL's name lookup fails at once.
  SW_SKIP_UNLESS_ROOT(private_loopback(), "a private network namespace");
  EXPECT_NE(0, run_wget("--version", nullptr));
}

TEST(Runner, WaitErrorOtherThanInterruptionIsLoggedOnceAndFails) {
  LogCapture logs;
  // With SIGCHLD ignored the kernel reaps the child itself: waitpid() fails
  // with ECHILD, which no retry can mend.
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &old);
  char t[] = "true";
  char* argv[] = {t, nullptr};
  int result = our_system("true", argv);
  sigaction(SIGCHLD, &old, nullptr);
  EXPECT_EQ(-1, result);
  // The C library's own words for ECHILD: glibc's and musl's differ.
  EXPECT_EQ(1, logs.count(std::string("spotwarden: our_system: waitpid() for 'true' error: ") + strerror(ECHILD)));
}

TEST(LogArgs, EachArgumentFollowedByOneSpace) {
  EXPECT_EQ("wget -q -O /dev/null http://x/ ", line_of({"wget", "-q", "-O", "/dev/null", "http://x/"}));
}

TEST(LogArgs, SecretValuesAreMaskedSeparateOrJoinedAndNothingElse) {
  EXPECT_EQ("chilli --radiussecret ******** --uamsecret ******** --secret ******** --dns1 198.18.1.1 ",
            line_of({"chilli", "--radiussecret", "r4d1us", "--uamsecret", "u4m", "--secret", "s3",
                     "--dns1", "198.18.1.1"}));
  EXPECT_EQ("chilli --uamsecret=******** --secretive x --radiussecretx y --secret ******** tail ",
            line_of({"chilli", "--uamsecret=u4m", "--secretive", "x", "--radiussecretx", "y", "--secret",
                     "--secret", "tail"}));
  // A mask is cut like any argument when the budget runs out.
  std::vector<char*> argv(50, const_cast<char*>("123456789"));
  std::string words;
  for (size_t i = 0; i < argv.size(); ++i) {
    words += "123456789 ";
  }
  char secret_opt[] = "--secret", value[] = "0123456789", joined[] = "--uamsecret=0123456789";
  char out[512];
  argv.insert(argv.end(), {secret_opt, value, nullptr});
  format_args(argv.data(), out);
  EXPECT_EQ(words + "--secret **", out);
  argv.resize(49);
  argv.insert(argv.end(), {joined, nullptr});
  format_args(argv.data(), out);
  EXPECT_EQ(words.substr(10) + "--uamsecret=******** ", out);
}

TEST(LogArgs, LongArgumentShownInRunsOf55) {
  std::string arg(120, 'a');
  for (size_t i = 0; i < arg.size(); ++i) {
    arg[i] = static_cast<char>('a' + i % 26);
  }
  std::string expected = arg.substr(0, 55) + " ... " + arg.substr(55, 55) + " ... " + arg.substr(110) + " ";
  EXPECT_EQ(expected, line_of({arg.c_str()}));
  // Exactly 55 left is shown without a marker.
  std::string arg110(110, 'b');
  EXPECT_EQ(std::string(55, 'b') + " ... " + std::string(55, 'b') + " ", line_of({arg110.c_str()}));
}

TEST(LogArgs, LineNeverPasses511Characters) {
  std::string big(2000, 'z');
  std::string line = line_of({"a", big.c_str(), "tail"});
  EXPECT_EQ(511u, line.size());
  std::string many(100, 'y');
  std::vector<const char*> args(20, many.c_str());
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  char out[512];
  format_args(argv.data(), out);
  EXPECT_EQ(511u, strlen(out));
}

}  // namespace
