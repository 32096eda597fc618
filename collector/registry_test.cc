#include "collector/registry.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "collector/state_file.h"
#include "tests/support/files.h"

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

// The monotonic clock starts near zero, the wall clock far from it.
moment at(int64_t mono) { return {mono, 1700000000 + mono}; }

TEST(Registry, OneRecordPerIdentifierCountingHeartbeatsAndRebootsUntilForgotten) {
  registry r;
  r.record(beat("A", 100), at(1000));
  r.record(beat("B", 5), at(1010));
  r.record(beat("A", 130), at(1030));
  r.record(beat("A", 130), at(1031));  // the same uptime again is no reboot
  r.record(beat("A", 140, 0x030012C6), at(1060));  // booted 19 s after it said: rebooted, uptime grew
  r.record(beat("A", 170), at(1090));
  r.refuse(refusal::foreign);
  r.refuse(refusal::malformed);
  r.refuse(refusal::foreign);

  ASSERT_EQ(2u, r.routers().size());
  const router_record& a = r.routers().at("A");
  EXPECT_EQ(1700001000, a.first_seen);
  EXPECT_EQ(1700001090, a.last_seen);
  EXPECT_EQ(1090, a.last_seen_mono);
  EXPECT_EQ(5u, a.heartbeats);
  EXPECT_EQ(1u, a.reboots);
  EXPECT_EQ(170u, a.uptime);
  EXPECT_EQ(0x020012C6u, a.source) << "the last sender's address";
  EXPECT_EQ(1u, r.routers().at("B").heartbeats);
  EXPECT_EQ(6u, r.accepted());
  EXPECT_EQ(2u, r.refused(refusal::foreign));
  EXPECT_EQ(1u, r.refused(refusal::malformed));

  // B was last heard at 1010: gone once it is silent longer than 100 s.
  EXPECT_EQ(0u, r.forget(1110, 100));
  EXPECT_EQ(1u, r.forget(1111, 100));
  ASSERT_EQ(1u, r.routers().size());
  // Heard again, it starts a new record.
  r.record(beat("B", 1), at(1200));
  EXPECT_EQ(1700001200, r.routers().at("B").first_seen);
  EXPECT_EQ(0u, r.routers().at("B").reboots);

  // Ages follow the monotonic clock only: a wall clock stepped a week
  // ahead forgets nobody.
  r.record(beat("A", 50), {1300, 1700001300 + 7 * 86400});
  EXPECT_EQ(0u, r.forget(1300, 100));
  EXPECT_EQ(2u, r.routers().size());

  // The kernel's drop count is cumulative and wraps at 32 bits.
  r.kernel_dropped(0xFFFFFFF0u);
  r.kernel_dropped(0xFFFFFFF0u);
  r.kernel_dropped(5);
  EXPECT_EQ(0xFFFFFFF0u + 21ull, r.snapshot(at(1400)).kernel_drops);
}

TEST(Registry, CapRateAndAllowListRefuseNewIdentifiersButNeverKnownOnes) {
  registry r(registry_limits{4, 2});
  char name[16];
  // Three new identifiers from one source within a minute: the third is refused.
  EXPECT_TRUE(r.record(beat("s1-a", 1, 1), at(0)));
  EXPECT_TRUE(r.record(beat("s1-b", 1, 1), at(10)));
  EXPECT_FALSE(r.record(beat("s1-c", 1, 1), at(59)));
  EXPECT_EQ(1u, r.refused(refusal::rate));
  // Known identifiers from that source go on being counted.
  EXPECT_TRUE(r.record(beat("s1-a", 2, 1), at(59)));
  // A minute later the source may bring new ones again.
  EXPECT_TRUE(r.record(beat("s1-c", 1, 1), at(60)));
  // The cap: one more from another source, then every new one is refused.
  EXPECT_TRUE(r.record(beat("s2-a", 1, 2), at(61)));
  for (int i = 0; i < 5; ++i) {
    snprintf(name, sizeof name, "s3-%d", i);
    EXPECT_FALSE(r.record(beat(name, 1, 3), at(62)));
  }
  EXPECT_EQ(5u, r.refused(refusal::over_cap));
  EXPECT_EQ(4u, r.routers().size());
  EXPECT_TRUE(r.record(beat("s2-a", 2, 2), at(63))) << "known ones stay counted at the cap";

  // An allow list drops the others' records and refuses them from now on.
  r.allow(std::unordered_set<std::string>{"s1-a", "new"});
  EXPECT_EQ(1u, r.routers().size());
  EXPECT_FALSE(r.record(beat("s1-b", 3, 1), at(200)));
  EXPECT_EQ(1u, r.refused(refusal::not_allowed));
  EXPECT_TRUE(r.record(beat("new", 3, 9), at(200)));
  r.allow(std::nullopt);
  EXPECT_TRUE(r.record(beat("s1-b", 3, 1), at(200)));

  fleet_snapshot s = r.snapshot(at(300));
  EXPECT_EQ((std::vector<std::string>{"new", "s1-a", "s1-b"}),
            (std::vector<std::string>{s.routers[0].first, s.routers[1].first, s.routers[2].first}));
  EXPECT_EQ(4u, s.max_routers);
}

TEST(StateFile, RoundTripKeepsRecordsAndAgesAndEveryDamageIsRefusedWhole) {
  TempDir dir;
  const std::string path = dir.path("state");
  registry before;
  before.record(beat("A", 100), at(1000));
  before.record(beat("odd \xff\n", 5, 0x0A000001), at(1100));
  before.record(beat("A", 10), at(1200));  // a reboot
  ASSERT_EQ(0, state_save(before.snapshot(at(1200)), path));

  // Read back after a restart 30 s later: the monotonic clock starts anew,
  // the ages go on from the wall clock.
  registry after;
  std::string why;
  ASSERT_EQ(0, state_load(path, {5, 1700001230}, &after, &why)) << why;
  ASSERT_EQ(2u, after.routers().size());
  const router_record& a = after.routers().at("A");
  EXPECT_EQ(1700001000, a.first_seen);
  EXPECT_EQ(1700001200, a.last_seen);
  EXPECT_EQ(-25, a.last_seen_mono);
  EXPECT_EQ(2u, a.heartbeats);
  EXPECT_EQ(1u, a.reboots);
  EXPECT_EQ(0x0A000001u, after.routers().at("odd \xff\n").source);
  // A wall clock behind the file's times makes no record younger than now.
  registry behind;
  ASSERT_EQ(0, state_load(path, {5, 1600000000}, &behind, &why));
  EXPECT_EQ(5, behind.routers().at("A").last_seen_mono);

  std::string whole = read_file(path);
  std::string record = whole.substr(whole.find('\n') + 1);
  for (const std::string& bad : std::vector<std::string>{
           std::string(), std::string("spotwarden-collector-state 2\n") + record, whole.substr(0, whole.size() - 3),
        whole.substr(0, whole.rfind("end")), whole + "41 1 2 3 4 0 0 0 0 0 0\n",
        "spotwarden-collector-state 1\nzz 1 2 3 4 0 0 0 0 0 0\nend 1\n",
        "spotwarden-collector-state 1\n41 1 2 3 4 0 0 0 0 0 70000\nend 1\n",
        "spotwarden-collector-state 1\n4100 1 2 3 4 0 0 0 0 0 0\nend 1\n",
        "spotwarden-collector-state 1\n41 1 2 3\nend 1\n"}) {
    write_file(path, bad);
    registry untouched;
    why.clear();
    EXPECT_EQ(-1, state_load(path, at(0), &untouched, &why)) << bad;
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(untouched.routers().empty()) << bad;
  }
  unlink(path.c_str());  // now missing
  registry missing;
  EXPECT_EQ(-1, state_load(path, at(0), &missing, &why));
}

TEST(StateFile, AllowListSkipsCommentsAndEmptyLinesAndRefusesTooLongOnes) {
  TempDir dir;
  const std::string path = dir.path("allow");
  write_file(path, "# the fleet\nR1\r\n\nR 2\nR1\n");
  std::unordered_set<std::string> allowed;
  std::string why;
  ASSERT_EQ(0, allow_list_load(path, &allowed, &why));
  EXPECT_EQ((std::unordered_set<std::string>{"R1", "R 2"}), allowed);
  write_file(path, std::string(64, 'x') + "\n");
  EXPECT_EQ(-1, allow_list_load(path, &allowed, &why));
  EXPECT_EQ(2u, allowed.size()) << "unchanged";
}

}  // namespace
