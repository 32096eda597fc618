#include "device/nasid.h"

#include <gtest/gtest.h>
#include <net/if_arp.h>
#include <string.h>

#include <string>

#include "tests/support/namespaces.h"

namespace {

using NasidTest = PrivateNetns;

TEST_F(NasidTest, VethMacGivesUpperCaseHyphenatedIdentifier) {
  ip("link add ath0 type veth peer name ath1");
  ip("link set ath0 address 00:1a:2b:3c:4d:5e");
  char nasid[24];
  memset(nasid, 'x', sizeof nasid);
  ASSERT_EQ(0, getnasid("ath0", nasid));
  EXPECT_STREQ("00-1A-2B-3C-4D-5E", nasid);
}

TEST_F(NasidTest, RefusalsSayWhyOnStderr) {
  char nasid[24] = "untouched";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, getnasid("lo", nasid));
  EXPECT_EQ(-1, getnasid("nosuch0", nasid));
  EXPECT_EQ(-1, getnasid(nullptr, nasid));
  EXPECT_EQ(-1, getnasid("lo", nullptr));
  EXPECT_EQ(
      "getnasid: lo is not an ethernet interface!\n"
      "getnasid: Failed to get hardware address of: nosuch0: No such device\n"
      "getnasid: ifname or nasid NULL!\n"
      "getnasid: ifname or nasid NULL!\n",
      ::testing::internal::GetCapturedStderr());
  EXPECT_STREQ("untouched", nasid);
}

// veth refuses group addresses, so the rule is checked on the step right
// after the hardware-address request.
TEST(NasidFromHwaddr, GroupAddressIsRefusedEvenWhenNotAllOnes) {
  struct sockaddr hw;
  memset(&hw, 0, sizeof hw);
  hw.sa_family = ARPHRD_ETHER;
  const unsigned char macs[][6] = {{0x01, 0, 0x5e, 0, 0, 1}, {0x33, 0x33, 0, 0, 0, 1}};
  char nasid[24] = "untouched";
  for (const auto& mac : macs) {
    memcpy(hw.sa_data, mac, 6);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, nasid_from_hwaddr("wl0", hw, nasid));
    EXPECT_EQ("getnasid: interface wl0 has broadcast address!\n",
              ::testing::internal::GetCapturedStderr());
  }
  EXPECT_STREQ("untouched", nasid);

  // The neighbouring even byte is an ordinary station address.
  const unsigned char station[6] = {0x32, 0xab, 0xcd, 0xef, 0x01, 0x23};
  memcpy(hw.sa_data, station, 6);
  ASSERT_EQ(0, nasid_from_hwaddr("wl0", hw, nasid));
  EXPECT_STREQ("32-AB-CD-EF-01-23", nasid);
}

}  // namespace
