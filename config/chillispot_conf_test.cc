#include "config/chillispot_conf.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <string>

#include "tests/support/fake_programs.h"
#include "tests/support/log_capture.h"

namespace {

// Value of `name` in a file holding `content`; "(null)" when unset.
std::string param(FakePrograms& dir, const std::string& content, const char* name) {
  dir.write("chilli.conf", content);
  char* v = chillispot_conf_get_param(dir.path("chilli.conf").c_str(), name);
  std::string out = v ? v : "(null)";
  free(v);
  return out;
}

// The C library's strdup(), failing while set: memory running out just
// where a value is copied.
bool g_strdup_fails = false;
extern "C" char* failing_strdup(const char* s) __asm__("strdup");
extern "C" char* failing_strdup(const char* s) {
  const size_t n = g_strdup_fails ? 0 : strlen(s) + 1;
  char* copy = n ? static_cast<char*>(malloc(n)) : nullptr;
  return copy ? static_cast<char*>(memcpy(copy, s, n)) : nullptr;
}

// Out of memory once read as "radiusserver1 missing", which skipped the
// RADIUS proof and went online.
TEST(GetParam, MemoryRunningOutIsNeverReadAsAMissingValue) {
  FakePrograms dir;
  dir.write("chilli.conf", "radiusserver1 10.0.0.1\n");
  const std::string path = dir.path("chilli.conf");
  LogCapture logs;
  EXPECT_DEATH(
      {
        g_strdup_fails = true;
        chillispot_conf_get_param(path.c_str(), "radiusserver1");
      },
      "");
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: chillispot_conf_get_param: malloc() failed!"));
}

TEST(GetParam, BlanksTabsAndCrLfAroundTheValueAreDropped) {
  FakePrograms dir;
  EXPECT_EQ("10.0.0.1", param(dir, "radiusserver1 10.0.0.1\n", "radiusserver1"));
  EXPECT_EQ("10.0.0.1", param(dir, "  \tradiusserver1 \t  10.0.0.1  \r\n", "radiusserver1"));
  EXPECT_EQ("10.0.0.1", param(dir, "radiusserver1 10.0.0.1", "radiusserver1"));
  EXPECT_EQ("a b\tc", param(dir, "uamserver a b\tc \n", "uamserver"));
}

TEST(GetParam, OnlyTheExactUncommentedNameMatchesAndTheFirstWins) {
  FakePrograms dir;
  EXPECT_EQ("2", param(dir, "radiusserver10 1\nradiusserver1 2\n", "radiusserver1"));
  EXPECT_EQ("3", param(dir, "#radiusserver1 1\n   # radiusserver1 2\nradiusserver1 3\n", "radiusserver1"));
  EXPECT_EQ("first", param(dir, "uamserver first\nuamserver second\n", "uamserver"));
  EXPECT_EQ("(null)", param(dir, "RADIUSSERVER1 1\nradiusserver1=2\n", "radiusserver1"));
  EXPECT_EQ("(null)", param(dir, "", "radiusserver1"));
}

TEST(GetParam, BareNameIsEmptyExceptAtEndOfFileWithoutNewline) {
  FakePrograms dir;
  EXPECT_EQ("", param(dir, "radiussecret\nuamserver x\n", "radiussecret"));
  EXPECT_EQ("", param(dir, "radiussecret   \r\n", "radiussecret"));
  EXPECT_EQ("(null)", param(dir, "uamserver x\nradiussecret", "radiussecret"));
}

TEST(GetParam, LongLinesAreReadInPieces) {
  FakePrograms dir;
  // A 511-character piece ends a comment; what follows is a line of its own.
  EXPECT_EQ("hidden", param(dir, "#" + std::string(510, 'x') + "uamserver hidden\n", "uamserver"));
  std::string value = param(dir, "uamserver " + std::string(3000, 'v') + "\n", "uamserver");
  EXPECT_EQ(std::string(501, 'v'), value);
}

TEST(GetParam, MissingFileIsLoggedAndGivesNull) {
  FakePrograms dir;
  LogCapture logs;
  std::string missing = dir.path("none");
  EXPECT_EQ(nullptr, chillispot_conf_get_param(missing.c_str(), "uamserver"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: chillispot_conf_get_param: failed to open '" + missing +
                                            "': No such file or directory"));
}

int compare(FakePrograms& dir, const std::string& a, const std::string& b) {
  dir.write("a", a);
  dir.write("b", b);
  return compare_files(dir.path("a").c_str(), dir.path("b").c_str());
}

TEST(CompareFiles, EqualOnlyWithSameBytesEndingTogether) {
  FakePrograms dir;
  EXPECT_EQ(0, compare(dir, "", ""));
  EXPECT_EQ(0, compare(dir, std::string("a\0b\xff", 4), std::string("a\0b\xff", 4)));
  EXPECT_EQ(1, compare(dir, "abc", "abcd"));
  EXPECT_EQ(1, compare(dir, "abcd", "abc"));
  EXPECT_EQ(1, compare(dir, "", "x"));
  EXPECT_EQ(1, compare(dir, "x", ""));
  EXPECT_EQ(1, compare(dir, "abc", "abd"));
  EXPECT_EQ(1, compare(dir, std::string("a\0", 2), "a"));
}

TEST(CompareFiles, UnopenableOrUnreadableFileIsMinusOne) {
  FakePrograms dir;
  LogCapture logs;
  dir.write("a", "x");
  std::string a = dir.path("a"), missing = dir.path("missing");
  EXPECT_EQ(-1, compare_files(a.c_str(), missing.c_str()));
  EXPECT_EQ(-1, compare_files(missing.c_str(), a.c_str()));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: error opening files for compare"));
  // A directory opens but cannot be read.
  EXPECT_EQ(-1, compare_files(a.c_str(), "/tmp"));
  EXPECT_EQ(-1, compare_files("/tmp", a.c_str()));
}

// The update against a fake wget that copies the file named by its URL and
// a fake killall that records its arguments.
class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.program("wget", "cp \"$5\" \"$3\" 2>/dev/null; exit $(cat \"$D/wget.status\" 2>/dev/null || echo 0)");
    fake.program("killall", "echo \"$@\" >> \"$D/killall.log\"");
    current = fake.path("chilli.conf");
    url = fake.path("download");
  }
  int update(const std::string& download, const char* secret) {
    fake.write("download", download);
    return chillispot_conf_update(url.c_str(), current.c_str(), secret);
  }
  FakePrograms fake;
  std::string current, url;
};

TEST_F(Update, SecretGoesOnALineOfItsOwnAndTheReportNamesTheUamserver) {
  LogCapture logs;
  fake.write("chilli.conf", "offline\n");
  EXPECT_EQ(1, update("# chilli.conf\nuamserver https://login/", "s3"));
  EXPECT_EQ("# chilli.conf\nuamserver https://login/\nradiussecret s3\n", fake.read("chilli.conf"));
  EXPECT_FALSE(fake.exists("killall.log")) << "telling chilli is the caller's";
  EXPECT_FALSE(fake.exists("chilli.conf.NEW"));
  EXPECT_FALSE(logs.contains(LOG_NOTICE, "spotwarden: chillispot config file updated"));
  chillispot_conf_report_installed(current.c_str());
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: chillispot config file updated"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: uamserver = https://login/"));
}

TEST_F(Update, SameDownloadAgainComparesEqualAfterTheSecretIsAdded) {
  fake.write("chilli.conf", "offline\n");
  ASSERT_EQ(1, update("# chilli.conf\nuamserver u\n", "s3"));
  LogCapture logs;
  EXPECT_EQ(0, update("# chilli.conf\nuamserver u\n", "s3"));
  EXPECT_FALSE(fake.exists("chilli.conf.NEW"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: chillispot config file unchanged, no update required"));
}

TEST_F(Update, OperatorsOwnSecretOrNoSecretAppendsNothing) {
  fake.write("chilli.conf", "offline\n");
  ASSERT_EQ(1, update("# chilli.conf\nradiussecret\n", "ours"));
  EXPECT_EQ("# chilli.conf\nradiussecret\n", fake.read("chilli.conf"));
  ASSERT_EQ(1, update("# chilli.conf\nuamserver x\n", nullptr));
  EXPECT_EQ("# chilli.conf\nuamserver x\n", fake.read("chilli.conf"));
}

TEST_F(Update, LineEndAddedToABareSecretAtTheEndKeepsItTheOnlySecret) {
  fake.write("chilli.conf", "offline\n");
  ASSERT_EQ(1, update("# chilli.conf\nuamserver x\n  radiussecret", "ours"));
  EXPECT_EQ("# chilli.conf\nuamserver x\n  radiussecret\n", fake.read("chilli.conf"));
  ASSERT_EQ(1, update("# chilli.conf\nradiussecret2", "ours"));
  EXPECT_EQ("# chilli.conf\nradiussecret2\nradiussecret ours\n", fake.read("chilli.conf"));
}

TEST_F(Update, DownloadIsPrivateWhileWrittenAndTakesOverTheModeOfTheFileItReplaces) {
  // The served copy is world-readable; wget's copy of it must not be.
  fake.program("wget", "cp \"$5\" \"$3\" && stat -c %a \"$3\" >> \"$D/side.modes\"");
  fake.program("killall", "true");
  struct stat st;
  // Root can hand the file to the portal's own user; the new file keeps it.
  uid_t owner = geteuid() == 0 ? 65534 : geteuid();
  for (mode_t mode : {0640, 0600}) {
    fake.write("chilli.conf", "offline\n");
    ASSERT_EQ(0, chmod(current.c_str(), mode));
    ASSERT_EQ(0, chown(current.c_str(), owner, static_cast<gid_t>(-1)));
    ASSERT_EQ(1, update("# chilli.conf\nuamserver u\n", "s3"));
    ASSERT_EQ(0, stat(current.c_str(), &st));
    EXPECT_EQ(mode, st.st_mode & 07777);
    EXPECT_EQ(owner, st.st_uid);
  }
  ASSERT_EQ(0, unlink(current.c_str()));
  ASSERT_EQ(1, update("# chilli.conf\nuamserver u\n", "s3"));
  ASSERT_EQ(0, stat(current.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777) << "no file to take the mode of: private";
  EXPECT_EQ("600\n600\n600\n", fake.read("side.modes"));
}

TEST_F(Update, FailedWgetIsAFailureEvenWhenTheFirstLineLooksRight) {
  LogCapture logs;
  fake.write("chilli.conf", "offline\n");
  fake.write("wget.status", "3");
  EXPECT_EQ(-1, update("# chilli.conf\nuamserver cut-sh", "s"));
  EXPECT_EQ("offline\n", fake.read("chilli.conf"));
  EXPECT_FALSE(fake.exists("chilli.conf.NEW"));
  EXPECT_FALSE(fake.exists("killall.log"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: config file download failed, will retry later..."));
}

}  // namespace
