#include "collector/registry.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

heartbeat beat(const char* nasid, uint32_t uptime, uint32_t source = 0x020012C6) {
  heartbeat hb = {};
  hb.source = source;
  hb.uptime = uptime;
  hb.load1 = 32768;
  hb.ram_total = 1000;
  hb.ram_free = 500;
  hb.processes = 7;
  hb.nasid_length = static_cast<uint8_t>(strlen(nasid));
  memcpy(hb.nasid, nasid, hb.nasid_length + 1);
  return hb;
}

TEST(Registry, OneRecordPerIdentifierCountingHeartbeatsAndRebootsUntilForgotten) {
  registry r;
  r.record(beat("A", 100), 1000);
  r.record(beat("B", 5), 1010);
  r.record(beat("A", 130), 1030);
  r.record(beat("A", 130), 1031);  // the same uptime again is no reboot
  r.record(beat("A", 12, 0x030012C6), 1060);
  r.record(beat("A", 40), 1090);
  r.reject();
  r.reject();

  ASSERT_EQ(2u, r.routers().size());
  const router_record& a = r.routers().at("A");
  EXPECT_EQ(1000, a.first_seen);
  EXPECT_EQ(1090, a.last_seen);
  EXPECT_EQ(5u, a.heartbeats);
  EXPECT_EQ(1u, a.reboots);
  EXPECT_EQ(40u, a.uptime);
  EXPECT_EQ(0x020012C6u, a.source) << "the last sender's address";
  EXPECT_EQ(1u, r.routers().at("B").heartbeats);
  EXPECT_EQ(2u, r.rejected());

  // B was last heard at 1010: gone once it is silent longer than 100 s.
  EXPECT_EQ(0u, r.forget(1110, 100));
  EXPECT_EQ(1u, r.forget(1111, 100));
  ASSERT_EQ(1u, r.routers().size());
  // Heard again, it starts a new record.
  r.record(beat("B", 1), 1200);
  EXPECT_EQ(1200, r.routers().at("B").first_seen);
  EXPECT_EQ(0u, r.routers().at("B").reboots);
}

}  // namespace
