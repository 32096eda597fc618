#include "device/lanip.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "tests/support/namespaces.h"

namespace {

using LanIpTest = PrivateNetns;

TEST_F(LanIpTest, ExactNameOnlyAndLastRecordOfTheNameWins) {
  ip("link add eth0 type veth peer name eth9");
  ip("addr add 198.18.1.1/24 dev eth0 label eth0:1");
  char out[16] = "untouched";
  // eth0 has no record of its own yet: its label "eth0:1" must not match.
  EXPECT_EQ(-1, getlanip("eth0", out));
  EXPECT_STREQ("untouched", out);
  EXPECT_EQ(-1, getlanip("eth", out));

  ip("addr add 198.18.2.1/24 dev eth0");
  ip("addr add 198.18.2.7/24 dev eth0");  // secondary: a later record of the same name
  ASSERT_EQ(0, getlanip("eth0", out));
  EXPECT_STREQ("198.18.2.7", out);
  ASSERT_EQ(0, getlanip("eth0:1", out));
  EXPECT_STREQ("198.18.1.1", out);
}

TEST_F(LanIpTest, UnknownNameAndNullArguments) {
  char out[16] = "untouched";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, getlanip("lan0", out));
  EXPECT_EQ(-1, getlanip(nullptr, out));
  EXPECT_EQ(-1, getlanip("lan0", nullptr));
  EXPECT_EQ("getlanip: ifname or ip NULL!\ngetlanip: ifname or ip NULL!\n",
            ::testing::internal::GetCapturedStderr());
  EXPECT_STREQ("untouched", out);
}

// Makes eth0 with `count` labelled records ("eth0:0", ...) and then one
// more, "eth0:last" with 198.18.4.9, at the end of the list.
void eth0_with_records_then_last(int count) {
  ASSERT_EQ(0, system("ip link add eth0 type veth peer name eth9"));
  for (int i = 0; i < count; ++i) {
    std::string cmd = "ip addr add 198.18.3." + std::to_string(i + 1) + "/32 dev eth0 label eth0:" +
                      std::to_string(i) + " >/dev/null 2>&1";
    ASSERT_EQ(0, system(cmd.c_str()));
  }
  ASSERT_EQ(0, system("ip addr add 198.18.4.9/24 dev eth0 label eth0:last"));
}

// The wanted record comes last in a list longer than the first request's 32
// records: it is only found when the list is asked for again.
TEST_F(LanIpTest, ListOfMoreThan32RecordsIsAskedForAgain) {
  eth0_with_records_then_last(45);
  char out[16] = "";
  ASSERT_EQ(0, getlanip("eth0:last", out));
  EXPECT_STREQ("198.18.4.9", out);
  ASSERT_EQ(0, getlanip("eth0:0", out));
  EXPECT_STREQ("198.18.3.1", out);
}

// Exactly 32 records fill the first buffer to the byte: the list is asked
// for again although nothing was cut off, and the 32nd record still counts.
TEST_F(LanIpTest, ExactlyFullFirstBufferStillFindsTheLastRecord) {
  eth0_with_records_then_last(31);
  char out[16] = "";
  ASSERT_EQ(0, getlanip("eth0:last", out));
  EXPECT_STREQ("198.18.4.9", out);
}

}  // namespace
