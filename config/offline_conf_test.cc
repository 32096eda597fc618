#include "config/offline_conf.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "build_config.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

class ScratchDir : public ::testing::Test {
 protected:
  TempDir scratch_{"swoffline"};
  const std::string& dir_ = scratch_.path();
};

TEST_F(ScratchDir, NineLinesWithDefaultSecretReplacingWhatWasThere) {
  std::string path = dir_ + "/chilli.conf";
  std::ofstream(path) << "a much longer previous configuration that must not survive\n"
                      << std::string(500, 'x') << "\n";
  LogCapture logs;
  ASSERT_EQ(0, chillispot_conf_write_offline(path.c_str(), "00-1A-2B-3C-4D-5E"));
  EXPECT_EQ(
      "offline\n"
      "radiusnasid 00-1A-2B-3C-4D-5E\n"
      "radiusserver1 127.0.0.1\n"
      "radiusserver2 127.0.0.1\n"
      "domain " SPOTWARDEN_OPERATOR_DOMAIN "\n"
      "radiussecret kestrelmoss9\n"
      "uamsecret kestrelmoss9\n"
      "uamserver https://127.0.0.1/\n"
      "uamanydns\n",
      read_file(path));
  EXPECT_TRUE(logs.contains(LOG_DEBUG, "spotwarden: writing offline config"));
}

TEST_F(ScratchDir, UncreatableFileIsLoggedAndWhateverWasThereRemoved) {
  std::string path = dir_ + "/chilli.conf";
  std::ofstream(path) << "an earlier online configuration\n";
  // Nothing can be created where the side file goes.
  ASSERT_EQ(0, mkdir((path + ".NEW").c_str(), 0700));
  LogCapture logs;
  EXPECT_EQ(-1, chillispot_conf_write_offline(path.c_str(), "N"));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: failed to create config file '" + path + "'"));
  EXPECT_NE(0, access(path.c_str(), F_OK));
}

TEST_F(ScratchDir, FileThatCannotBeWrittenWholeIsNotWritten) {
  SW_SKIP_UNLESS_ROOT(private_mount_namespace() && mount("swfull", dir_.c_str(), "tmpfs", 0, "size=8k") == 0,
                      "a small file system of its own");
  std::string path = dir_ + "/chilli.conf";
  std::ofstream(path) << "an earlier online configuration\n";
  // A link planted under the side file's name is never written through.
  ASSERT_EQ(0, symlink("/dev/full", (path + ".NEW").c_str()));
  std::ofstream(dir_ + "/filler") << std::string(8192, 'x');  // no room left
  struct stat full, after;
  ASSERT_EQ(0, stat("/dev/full", &full));
  LogCapture logs;
  EXPECT_EQ(-1, chillispot_conf_write_offline(path.c_str(), "N"));
  EXPECT_NE(0, access(path.c_str(), F_OK));
  EXPECT_NE(0, access((path + ".NEW").c_str(), F_OK)) << "the side file is removed";
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: failed to write config file '" + path +
                                            "', removed it: No space left on device"));
  ASSERT_EQ(0, stat("/dev/full", &after));
  EXPECT_EQ(full.st_mode, after.st_mode) << "what the side file's name pointed at is not made private";
  umount2(dir_.c_str(), MNT_DETACH);
}

// chilli may read the file at any moment: it must see the old file or the
// new one whole, never one being written.
TEST_F(ScratchDir, ReplacesTheFileWithOneRename) {
  std::string path = dir_ + "/chilli.conf";
  std::ofstream(path) << "the earlier file\n";
  std::ifstream reader(path);
  ASSERT_EQ(0, chillispot_conf_write_offline(path.c_str(), "N"));
  std::stringstream earlier;
  earlier << reader.rdbuf();
  EXPECT_EQ("the earlier file\n", earlier.str());
  EXPECT_EQ(0u, read_file(path).find("offline\nradiusnasid N\n"));
  EXPECT_NE(0, access((path + ".NEW").c_str(), F_OK));
}

}  // namespace
