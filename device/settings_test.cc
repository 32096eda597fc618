#include "device/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

#ifdef NVRAM_STANDIN

// Runs the real pipelines, with the settings-store stand-in in place of
// /bin/nvram, against a store file that each test fills.
class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/swnvramXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    store_ = tmpl;
    setenv("NVRAM_FILE", store_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NVRAM_FILE");
    unlink(store_.c_str());
  }
  void store(const std::string& content) { std::ofstream(store_, std::ios::binary) << content; }
  static std::string pipeline(const char* command) {
    std::string cmd = command;
    const std::string tool = "/bin/nvram";
    EXPECT_EQ(0u, cmd.find(tool));
    return std::string(NVRAM_STANDIN) + cmd.substr(tool.size());
  }
  // getssid() through the pipeline with a 64-byte buffer, or "<-1>".
  std::string ssid(int size = 64) {
    char out[64];
    memset(out, '#', sizeof out);
    out[63] = '\0';
    if (getssid_from(pipeline(kSsidCommand).c_str(), out, size) != 0) {
      return std::string("<-1>") + out;
    }
    return out;
  }
  std::string store_;
};

TEST_F(SettingsStore, SsidFullOfLettersNKeepsEveryN) {
  store("zelvanet_ssid=nnn Inn Nanny\n");
  EXPECT_EQ("ZELVANET nnn Inn Nanny", ssid());
}

TEST_F(SettingsStore, SsidLengthRuleIsOneTo23Characters) {
  store("zelvanet_ssid=a\n");
  EXPECT_EQ("ZELVANET a", ssid());
  store("zelvanet_ssid=" + std::string(23, 'n') + "\n");
  EXPECT_EQ("ZELVANET " + std::string(23, 'n'), ssid());
  store("zelvanet_ssid=" + std::string(24, 'n') + "\n");
  EXPECT_EQ("ZELVANET", ssid());
  store("zelvanet_ssid=" + std::string(80, 'x') + "\n");
  EXPECT_EQ("ZELVANET", ssid());
  // A value stored without a line end counts the same.
  store("zelvanet_ssid=Cafe");
  EXPECT_EQ("ZELVANET Cafe", ssid());
}

TEST_F(SettingsStore, SsidCutToCallerSize) {
  store("zelvanet_ssid=Cafe\n");
  EXPECT_EQ("ZELVANET", ssid(9));
  EXPECT_EQ("ZELV", ssid(5));
}

TEST_F(SettingsStore, NoSsidLineLeavesOutputUntouched) {
  store("other=1\n");
  EXPECT_EQ("<-1>" + std::string(63, '#'), ssid());
  store("zelvanet_ssid=\n");  // nothing is left once the line end is removed
  EXPECT_EQ("<-1>" + std::string(63, '#'), ssid());
}

TEST_F(SettingsStore, ChannelAsAtoiReadsIt) {
  int channel = -1;
  store("wlan0_channel=11\n");
  ASSERT_EQ(0, getchannel_from(pipeline(kChannelCommand).c_str(), &channel));
  EXPECT_EQ(11, channel);
  store("wlan0_channel=auto\n");
  ASSERT_EQ(0, getchannel_from(pipeline(kChannelCommand).c_str(), &channel));
  EXPECT_EQ(0, channel);
  channel = -1;
  store("zelvanet_ssid=x\n");
  EXPECT_EQ(-1, getchannel_from(pipeline(kChannelCommand).c_str(), &channel));
  EXPECT_EQ(-1, channel);
}

#endif

TEST(Settings, EmptyLineGivesChannelZero) {
  int channel = -1;
  ASSERT_EQ(0, getchannel_from("echo", &channel));
  EXPECT_EQ(0, channel);
}

}  // namespace
