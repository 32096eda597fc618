#include "collector/exposition.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>

namespace {

heartbeat beat(const std::string& nasid) {
  heartbeat hb = {};
  hb.source = 0x020012C6;  // 198.18.0.2
  hb.uptime = 3600;
  hb.load1 = 98304;
  hb.ram_total = 67108864;
  hb.ram_free = 16777216;
  hb.processes = 42;
  hb.nasid_length = static_cast<uint8_t>(nasid.size());
  memcpy(hb.nasid, nasid.data(), nasid.size());
  return hb;
}

TEST(Exposition, EveryFamilyOnceWithHelpTypeAndOneSamplePerRouter) {
  registry r;
  r.record(beat("00-1A-2B-3C-4D-5E"), 1000);
  r.record(beat("00-1A-2B-3C-4D-5E"), 1030);
  r.record(beat("old"), 800);
  r.reject();
  const std::string labels = "{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} ";
  std::string text = metrics_text(r, 1100, 180);
  for (const char* sample : {"spotwarden_router_up", "spotwarden_router_last_seen_timestamp_seconds",
                             "spotwarden_router_uptime_seconds", "spotwarden_router_load1",
                             "spotwarden_router_memory_total_bytes", "spotwarden_router_memory_free_bytes",
                             "spotwarden_router_processes", "spotwarden_router_heartbeats_total",
                             "spotwarden_router_reboots_total"}) {
    std::string name = sample;
    std::string type = name.ends_with("_total") ? "counter" : "gauge";
    EXPECT_NE(std::string::npos, text.find("\n# TYPE " + std::string(sample) + " " + type + "\n" + sample +
                                           labels))
        << sample;
  }
  for (const char* sample : {"up{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 1\n",
                             "up{nasid=\"old\",address=\"198.18.0.2\"} 0\n",
                             "seconds{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 1030\n",
                             "load1{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 1.5\n",
                             "total_bytes{nasid=\"old\",address=\"198.18.0.2\"} 67108864\n",
                             "heartbeats_total{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 2\n",
                             "\nspotwarden_heartbeats_rejected_total 1\n"}) {
    EXPECT_NE(std::string::npos, text.find(sample)) << sample;
  }
  // Nine families of HELP, TYPE and two samples, then the rejected count.
  EXPECT_EQ(9 * 4 + 3, std::count(text.begin(), text.end(), '\n'));
  // The boundary: exactly stale_after seconds old is down.
  EXPECT_NE(std::string::npos, metrics_text(r, 1210, 180).find("up{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 0"));

  EXPECT_EQ("{\"routers\":[{\"nasid\":\"00-1A-2B-3C-4D-5E\",\"address\":\"198.18.0.2\",\"up\":true,"
            "\"first_seen\":1000,\"last_seen\":1030,\"heartbeats\":2,\"reboots\":0,\"uptime_seconds\":3600,"
            "\"load1\":1.5,\"memory_total_bytes\":67108864,\"memory_free_bytes\":16777216,\"processes\":42},"
            "{\"nasid\":\"old\",\"address\":\"198.18.0.2\",\"up\":false,\"first_seen\":800,\"last_seen\":800,"
            "\"heartbeats\":1,\"reboots\":0,\"uptime_seconds\":3600,\"load1\":1.5,"
            "\"memory_total_bytes\":67108864,\"memory_free_bytes\":16777216,\"processes\":42}],"
            "\"heartbeats_rejected\":1}\n",
            routers_json(r, 1100, 180));
}

TEST(Exposition, IdentifiersBecomeValidUtf8AndEscapedLabelValues) {
  struct Case {
    std::string raw, printable;
  } cases[] = {
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb6", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb6"},
      {"a\xff" "b\xfe", "a\\xffb\\xfe"},
      {"\xc3", "\\xc3"},                   // truncated sequence
      {"\xc0\xaf", "\\xc0\\xaf"},          // overlong "/"
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"q\"b\\s\nt\x7f", "q\"b\\x5cs\\x0at\\x7f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.printable, printable_nasid(c.raw)) << c.printable;
  }
  registry r;
  r.record(beat("x\"\\\xff"), 1000);
  EXPECT_NE(std::string::npos,
            metrics_text(r, 1000, 180).find("spotwarden_router_up{nasid=\"x\\\"\\\\x5c\\\\xff\",address=\"198.18.0.2\"} 1\n"));
  EXPECT_NE(std::string::npos, routers_json(r, 1000, 180).find("{\"nasid\":\"x\\\"\\\\x5c\\\\xff\","));
}

}  // namespace
