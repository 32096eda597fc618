#include "config/check_config_file.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>

#include "tests/support/fake_programs.h"
#include "tests/support/log_capture.h"

namespace {

int check(FakePrograms& dir, const std::string& content, const char* name = "chilli.conf") {
  dir.write("f.conf", content);
  return check_config_file(dir.path("f.conf").c_str(), name);
}

TEST(CheckConfigFile, AcceptsHashLineNamingTheFile) {
  FakePrograms dir;
  LogCapture logs;
  EXPECT_EQ(0, check(dir, "# chilli.conf for the hotspot\nuamserver x\n"));
  EXPECT_EQ(0, check(dir, "#chilli.conf"));
  EXPECT_EQ(0, check(dir, "#" + std::string(240, ' ') + "chilli.conf" + std::string(2000, 'y') + "\n"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: config file '" + dir.path("f.conf") + "' looks OK!"));
}

TEST(CheckConfigFile, RejectsButKeepsFilesThatAreNotTheNamedFile) {
  FakePrograms dir;
  LogCapture logs;
  EXPECT_EQ(-1, check(dir, ""));
  EXPECT_EQ(-1, check(dir, " # chilli.conf\n"));
  EXPECT_EQ(-1, check(dir, "#\nchilli.conf\n"));
  EXPECT_EQ(-1, check(dir, "# Chilli.conf\n"));
  EXPECT_EQ(-1, check(dir, "# chilli.conf\n", "spotwarden.conf"));
  EXPECT_EQ(-1, check(dir, "<html><body>error 404</body></html>\n"));
  // Only the first 255 characters count: a marker across that limit fails.
  EXPECT_EQ(-1, check(dir, "#" + std::string(250, ' ') + "chilli.conf\n"));
  // A NUL byte ends the line as text; a marker behind it is not seen.
  EXPECT_EQ(-1, check(dir, std::string("#\0chilli.conf\n", 14)));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: config file '" + dir.path("f.conf") + "' is invalid..."));
  EXPECT_TRUE(dir.exists("f.conf")) << "the callers remove an invalid copy, not the check";
}

TEST(CheckConfigFile, MissingFileFailsAtDebugPriority) {
  FakePrograms dir;
  LogCapture logs;
  std::string missing = dir.path("none.conf");
  EXPECT_EQ(-1, check_config_file(missing.c_str(), "chilli.conf"));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: failed to open config file '" + missing + "'"));
  EXPECT_EQ(0, logs.count("invalid"));
}

}  // namespace
