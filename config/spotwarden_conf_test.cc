#include "config/spotwarden_conf.h"

#include <gtest/gtest.h>
#include <string.h>
#include <syslog.h>

#include <memory>
#include <string>
#include <vector>

#include "build_config.h"
#include "common/clock.h"
#include "tests/support/fake_programs.h"
#include "tests/support/log_capture.h"

namespace {

struct ConfDeleter {
  void operator()(spotwarden_conf* c) const { spotwarden_conf_free(c); }
};
using Conf = std::unique_ptr<spotwarden_conf, ConfDeleter>;

Conf defaults() {
  spotwarden_conf* c = nullptr;
  spotwarden_conf_new(&c);
  return Conf(c);
}

// Parses `text` (a settings file) over the defaults.
Conf parsed(FakePrograms& dir, const std::string& text) {
  dir.write("s.conf", text);
  Conf c = defaults();
  EXPECT_EQ(0, spotwarden_conf_parse(c.get(), dir.path("s.conf").c_str()));
  return c;
}

std::string str(const char* s) { return s ? s : "(null)"; }

TEST(SpotwardenConf, DefaultsOfEveryField) {
  Conf c = defaults();
  EXPECT_EQ(120, c->telemetry_setuptime);
  EXPECT_EQ(2, c->chilliconf_retry_interval);
  EXPECT_EQ(5, c->chilliconf_retries);
  EXPECT_EQ(30, c->chilliconf_failure_wait);
  EXPECT_EQ(14400, c->chilliconf_update_interval);
  EXPECT_EQ("http://" SPOTWARDEN_OPERATOR_HOST "/ping", str(c->webping_url));
  EXPECT_EQ(3600, c->webping_interval);
  EXPECT_EQ(1, c->radiuscheck);
  EXPECT_EQ(5, c->radiuscheck_retry_interval);
  EXPECT_EQ(3, c->radiuscheck_retries);
  EXPECT_EQ(30, c->radiuscheck_failure_wait);
  EXPECT_EQ(nullptr, c->radiussecret);
  EXPECT_EQ(SPOTWARDEN_OPERATOR_HOST, str(c->icmpping_host));
  EXPECT_EQ(3, c->icmpping_retry_interval);
  EXPECT_EQ(2, c->icmpping_retries);
  EXPECT_EQ(10, c->icmpping_failure_wait);
  EXPECT_EQ(30, c->icmpping_interval);
}

TEST(SpotwardenConf, FileOfOnlyTheMarkerLineEqualsDefaultsAndLogsNothing) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = parsed(dir, "# spotwarden.conf\n");
  Conf d = defaults();
  EXPECT_EQ(0, memcmp(&c->telemetry_setuptime, &d->telemetry_setuptime,
                      offsetof(spotwarden_conf, webping_url)));
  EXPECT_EQ(str(d->webping_url), str(c->webping_url));
  EXPECT_EQ(str(d->icmpping_host), str(c->icmpping_host));
  EXPECT_EQ(nullptr, c->radiussecret);
  EXPECT_EQ(d->icmpping_interval, c->icmpping_interval);
  EXPECT_TRUE(logs.messages().empty());
}

TEST(SpotwardenConf, EveryKeyReachesItsOwnField) {
  FakePrograms dir;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "telemetry_setuptime 1\nchilliconf_retry_interval 2\nchilliconf_retries 3\n"
                  "chilliconf_failure_wait 4\nchilliconf_update_interval 5\nwebping_url http://w/p\n"
                  "webping_interval 6\nradiuscheck 0\nradiuscheck_retry_interval 7\n"
                  "radiuscheck_retries 8\nradiuscheck_failure_wait 9\nradiussecret s3cr3t\n"
                  "icmpping_host 198.18.0.1\nicmpping_retry_interval 10\nicmpping_retries 11\n"
                  "icmpping_failure_wait 12\nicmpping_interval 13\n");
  EXPECT_EQ(1, c->telemetry_setuptime);
  EXPECT_EQ(2, c->chilliconf_retry_interval);
  EXPECT_EQ(3, c->chilliconf_retries);
  EXPECT_EQ(4, c->chilliconf_failure_wait);
  EXPECT_EQ(5, c->chilliconf_update_interval);
  EXPECT_EQ("http://w/p", str(c->webping_url));
  EXPECT_EQ(6, c->webping_interval);
  EXPECT_EQ(0, c->radiuscheck);
  EXPECT_EQ(7, c->radiuscheck_retry_interval);
  EXPECT_EQ(8, c->radiuscheck_retries);
  EXPECT_EQ(9, c->radiuscheck_failure_wait);
  EXPECT_EQ("s3cr3t", str(c->radiussecret));
  EXPECT_EQ("198.18.0.1", str(c->icmpping_host));
  EXPECT_EQ(10, c->icmpping_retry_interval);
  EXPECT_EQ(11, c->icmpping_retries);
  EXPECT_EQ(12, c->icmpping_failure_wait);
  EXPECT_EQ(13, c->icmpping_interval);
}

TEST(SpotwardenConf, MessageAuthenticatorKeyIsOffByDefaultAndReadAsAnInteger) {
  EXPECT_EQ(0, defaults()->radiuscheck_message_authenticator);
  FakePrograms dir;
  LogCapture logs;
  EXPECT_EQ(1, parsed(dir, "# spotwarden.conf\nradiuscheck_message_authenticator 1\n")
                   ->radiuscheck_message_authenticator);
  EXPECT_EQ(0, logs.count("unknown config key"));
}

TEST(SpotwardenConf, TabAndSpaceSeparatorsKeepLeadingSpacesOfStrings) {
  FakePrograms dir;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "icmpping_interval\t45\n"
                  "icmpping_host   probe.example.com\n"
                  "webping_url\t\thttp://a b/\n"
                  "radiuscheck_retries   7\n");
  EXPECT_EQ(45, c->icmpping_interval);
  EXPECT_EQ("  probe.example.com", str(c->icmpping_host));
  EXPECT_EQ("\thttp://a b/", str(c->webping_url));
  EXPECT_EQ(7, c->radiuscheck_retries);
}

TEST(SpotwardenConf, KeysWithoutValuesAreSkippedSilently) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "icmpping_host\n"
                  "webping_url   \t \n"
                  "icmpping_interval=99\n");
  EXPECT_EQ(SPOTWARDEN_OPERATOR_HOST, str(c->icmpping_host));
  EXPECT_EQ("http://" SPOTWARDEN_OPERATOR_HOST "/ping", str(c->webping_url));
  EXPECT_EQ(30, c->icmpping_interval);
  EXPECT_TRUE(logs.messages().empty());
}

TEST(SpotwardenConf, UnknownKeysAreLoggedAndChangeNothing) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "ICMPPING_INTERVAL 5\n"
                  "icmpping_interval: 6\n"
                  "icmpping_intervals 7\n"
                  "icmpping_retries = 9\n");
  EXPECT_EQ(30, c->icmpping_interval);
  EXPECT_EQ(0, c->icmpping_retries) << "value text '= 9' does not begin with a number";
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: spotwarden_conf_parse: unknown config key: ICMPPING_INTERVAL"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: spotwarden_conf_parse: unknown config key: icmpping_interval:"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: spotwarden_conf_parse: unknown config key: icmpping_intervals"));
  // Every line with a key and a value is echoed, known or not.
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: spotwarden_conf_parse: ICMPPING_INTERVAL => 5"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: spotwarden_conf_parse: icmpping_retries => = 9"));
}

TEST(SpotwardenConf, IntegerTextTakesItsLeadingNumberClampedToInt32) {
  FakePrograms dir;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "icmpping_interval 45s\n"
                  "icmpping_retries many\n"
                  "webping_interval 99999999999\n"
                  "telemetry_setuptime -99999999999999999999999\n"
                  "radiuscheck_retries -12\n"
                  "radiuscheck_failure_wait +8\n");
  EXPECT_EQ(45, c->icmpping_interval);
  EXPECT_EQ(0, c->icmpping_retries);
  EXPECT_EQ(INT32_MAX, c->webping_interval);
  EXPECT_EQ(INT32_MIN, c->telemetry_setuptime);
  EXPECT_EQ(-12, c->radiuscheck_retries);
  EXPECT_EQ(8, c->radiuscheck_failure_wait);
}

TEST(SpotwardenConf, WaitsOfZeroOrBelowBecomeOneSecondLoggedOnceForTheirUser) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "icmpping_interval 0\n"
                  "webping_interval -5\n"
                  "chilliconf_update_interval 0\n"
                  "radiuscheck_failure_wait 0\n"
                  "icmpping_retries 0\n"
                  "telemetry_setuptime -3\n");
  EXPECT_EQ(1, c->icmpping_interval);
  EXPECT_EQ(1, c->webping_interval);
  EXPECT_EQ(1, c->chilliconf_update_interval);
  EXPECT_EQ(1, c->radiuscheck_failure_wait);
  EXPECT_EQ(0, c->icmpping_retries) << "a count, not a wait";
  EXPECT_EQ(-3, c->telemetry_setuptime) << "no wait of its own";
  EXPECT_EQ(1, logs.count("spotwarden: web_talkback: icmpping_interval is 0, using 1 second instead"));
  EXPECT_EQ(1, logs.count("spotwarden: web_talkback: webping_interval is -5, using 1 second instead"));
  EXPECT_EQ(1, logs.count("spotwarden: control_cycle: radiuscheck_failure_wait is 0, using 1 second instead"));
  EXPECT_EQ(4, logs.count("using 1 second instead"));
}

TEST(SpotwardenConf, LastLineWinsAndEarlierStringIsReleased) {
  // Under AddressSanitizer a leaked first copy fails this test.
  FakePrograms dir;
  Conf c = parsed(dir,
                  "# spotwarden.conf\n"
                  "webping_url http://first/\n"
                  "icmpping_interval 1\n"
                  "webping_url http://second/\n"
                  "icmpping_interval 2\n");
  EXPECT_EQ("http://second/", str(c->webping_url));
  EXPECT_EQ(2, c->icmpping_interval);
}

TEST(SpotwardenConf, CrLfCommentsAndHashInsideValues) {
  FakePrograms dir;
  Conf c = parsed(dir,
                  "# spotwarden.conf\r\n"
                  "icmpping_host host.example.com  \r\n"
                  "   # icmpping_interval 1\r\n"
                  "\t#webping_url http://commented/\n"
                  "radiussecret ab#cd\r\n"
                  "\r\n"
                  "   icmpping_retries 4\r\n");
  EXPECT_EQ("host.example.com", str(c->icmpping_host));
  EXPECT_EQ(30, c->icmpping_interval);
  EXPECT_EQ("http://" SPOTWARDEN_OPERATOR_HOST "/ping", str(c->webping_url));
  EXPECT_EQ("ab#cd", str(c->radiussecret));
  EXPECT_EQ(4, c->icmpping_retries);
}

TEST(SpotwardenConf, LongLineIsReadIn511CharacterPieces) {
  FakePrograms dir;
  // The comment fills a whole piece; its remainder is a line of its own.
  Conf c = parsed(dir, "# spotwarden.conf\n#" + std::string(510, 'x') + "icmpping_retries 9\n" +
                           "webping_url http://" + std::string(600, 'u') + "\n");
  EXPECT_EQ(9, c->icmpping_retries);
  EXPECT_EQ(511u - strlen("webping_url "), strlen(c->webping_url));
}

TEST(SpotwardenConf, SecretNeverReachesTheLogButOtherValuesDo) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = parsed(dir, "# spotwarden.conf\nradiussecret topsecret\nicmpping_host h.example.com\n");
  EXPECT_EQ("topsecret", str(c->radiussecret));
  EXPECT_EQ(0, logs.count("topsecret"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: spotwarden_conf_parse: radiussecret => ********"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: spotwarden_conf_parse: icmpping_host => h.example.com"));
}

TEST(SpotwardenConf, UnreadableFileLeavesRecordUntouched) {
  FakePrograms dir;
  LogCapture logs;
  Conf c = defaults();
  std::string missing = dir.path("missing.conf");
  EXPECT_EQ(-1, spotwarden_conf_parse(c.get(), missing.c_str()));
  EXPECT_EQ(30, c->icmpping_interval);
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: spotwarden_conf_parse: failed to open '" + missing +
                                            "': No such file or directory"));
}

// The fetch loop, driven by a fake wget and a recording sleep.
std::vector<unsigned> g_sleeps;
void record_sleep(unsigned secs) { g_sleeps.push_back(secs); }
time_t fixed_now() { return 1000; }
const OsClock kFakeClock = {fixed_now, record_sleep};

class ConfFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sleeps.clear();
    os_clock_override(&kFakeClock);
    // Attempt N (counted in $D/count) fails by turns with nothing and with
    // an error page, until attempt `good` delivers a valid file. A leftover
    // output file from the previous attempt is noted in $D/leftover.
    fake.program("wget",
                 "n=$(( $(cat \"$D/count\" 2>/dev/null || echo 0) + 1 )); echo $n > \"$D/count\"\n"
                 "[ -e \"$3\" ] && echo $n >> \"$D/leftover\"\n"
                 "echo \"$@\" >> \"$D/args\"\n"
                 "if [ $n -ge $(cat \"$D/good\") ]; then\n"
                 "  printf '# spotwarden.conf\\nicmpping_interval 77\\n' > \"$3\"; exit 0\n"
                 "fi\n"
                 "[ $((n % 2)) = 0 ] && echo '<html>404</html>' > \"$3\"\n"
                 "exit 8");
  }
  void TearDown() override { os_clock_override(nullptr); }
  FakePrograms fake;
};

TEST_F(ConfFetch, RetriesTwoSecondsFiveTimesThenEveryThirtyUntilValid) {
  fake.write("good", "9");
  std::string out = fake.path("spotwarden.conf");
  Conf c(spotwarden_conf_get("http://h/config/spotwarden.conf?nasid=X", out.c_str(), os_sleep));
  EXPECT_EQ((std::vector<unsigned>{2, 2, 2, 2, 2, 30, 30, 30}), g_sleeps);
  EXPECT_EQ("9\n", fake.read("count"));
  EXPECT_EQ("", fake.read("leftover")) << "a failed copy must be removed before the next attempt";
  EXPECT_EQ("-q -O " + out + " -- http://h/config/spotwarden.conf?nasid=X\n",
            fake.read("args").substr(0, fake.read("args").find('\n') + 1));
  EXPECT_EQ(77, c->icmpping_interval);
  EXPECT_TRUE(fake.exists("spotwarden.conf")) << "the good copy stays on disk";
}

TEST_F(ConfFetch, FirstGoodDownloadNeedsNoPause) {
  fake.write("good", "1");
  LogCapture logs;
  std::string out = fake.path("spotwarden.conf");
  Conf c(spotwarden_conf_get("http://h/", out.c_str(), os_sleep));
  EXPECT_TRUE(g_sleeps.empty());
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: attempting to download spotwarden config file"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: retrieved spotwarden config file"));
}

TEST_F(ConfFetch, RejectedCopyIsRemoved) {
  fake.write("good", "99");
  fake.write("count", "1");  // the next attempt writes an error page
  std::string out = fake.path("spotwarden.conf");
  EXPECT_EQ(-1, spotwarden_conf_download("http://h/", out.c_str()));
  EXPECT_FALSE(fake.exists("spotwarden.conf"));
}

}  // namespace
