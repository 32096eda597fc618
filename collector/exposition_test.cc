#include "collector/exposition.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "collector/fleet_page.h"
#include "collector/metrics_text.h"
#include "collector/routers_json.h"

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

moment at(int64_t mono) { return {mono, 1700000000 + mono}; }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Exposition, PerRouterSeriesByIdentifierTelemetryWithdrawnWhenStaleAndSelfMetrics) {
  registry r;
  heartbeat first = beat("00-1A-2B-3C-4D-5E");
  first.uptime -= 30;  // as a router's, its uptime goes on with the clock
  r.record(first, at(1000));
  r.record(beat("00-1A-2B-3C-4D-5E"), at(1030));
  r.record(beat("old"), at(800));
  r.refuse(refusal::foreign);
  r.refuse(refusal::rate);
  r.refuse(refusal::rate);
  process_stats p;
  p.cpu_seconds = 1.5;
  p.resident_bytes = 4096;
  p.start_time = 1699999000;
  std::string text = metrics_text(r.snapshot(at(1100)), 180, p, "v1\"x");
  const std::string id = "{nasid=\"00-1A-2B-3C-4D-5E\"} ";
  for (const char* sample : {"spotwarden_router_up", "spotwarden_router_last_seen_timestamp_seconds",
                             "spotwarden_router_boot_time_seconds", "spotwarden_router_uptime_seconds",
                             "spotwarden_router_load1", "spotwarden_router_memory_total_bytes",
                             "spotwarden_router_memory_free_bytes", "spotwarden_router_processes",
                             "spotwarden_router_heartbeats_total", "spotwarden_router_reboots_total"}) {
    std::string name = sample;
    std::string type = name.ends_with("_total") ? "counter" : "gauge";
    EXPECT_TRUE(has(text, "\n# TYPE " + name + " " + type + "\n" + name + id)) << sample;
  }
  for (const char* sample : {
           "\nspotwarden_router_info{nasid=\"00-1A-2B-3C-4D-5E\",address=\"198.18.0.2\"} 1\n",
           "\nspotwarden_router_info{nasid=\"old\",address=\"198.18.0.2\"} 1\n",
           "\nspotwarden_router_up{nasid=\"old\"} 0\n",
           "\nspotwarden_router_last_seen_timestamp_seconds{nasid=\"00-1A-2B-3C-4D-5E\"} 1700001030\n",
           "\nspotwarden_router_boot_time_seconds{nasid=\"00-1A-2B-3C-4D-5E\"} 1699997430\n",
           "\nspotwarden_router_boot_time_seconds{nasid=\"old\"} 1699997200\n",
           "\nspotwarden_router_load1{nasid=\"00-1A-2B-3C-4D-5E\"} 1.5\n",
           "\nspotwarden_router_heartbeats_total{nasid=\"00-1A-2B-3C-4D-5E\"} 2\n",
           "\nspotwarden_router_heartbeats_total{nasid=\"old\"} 1\n",
           "\nspotwarden_collector_routers 2\n", "\nspotwarden_collector_max_routers 200000\n",
           "\nspotwarden_collector_heartbeats_total 3\n",
           "\nspotwarden_collector_refused_total{reason=\"malformed\"} 0\n",
           "\nspotwarden_collector_refused_total{reason=\"foreign\"} 1\n",
           "\nspotwarden_collector_refused_total{reason=\"rate\"} 2\n",
           "\nspotwarden_collector_refused_total{reason=\"not-allowed\"} 0\n",
           "\nspotwarden_collector_kernel_drops_total 0\n",
           "\nspotwarden_collector_build_info{version=\"v1\\\"x\"} 1\n", "\nprocess_cpu_seconds_total 1.5\n",
           "\nprocess_resident_memory_bytes 4096\n", "\nprocess_start_time_seconds 1699999000\n"}) {
    EXPECT_TRUE(has(text, sample)) << sample;
  }
  // The stale router's telemetry is gone: its old reading is no reading.
  for (const char* name : {"uptime_seconds", "load1", "memory_total_bytes", "memory_free_bytes", "processes"}) {
    EXPECT_FALSE(has(text, std::string("spotwarden_router_") + name + "{nasid=\"old\"}")) << name;
  }
  EXPECT_FALSE(has(text, "rejected"));
  // 11 per-router families (HELP and TYPE), 2 routers in 6 of them and 1 in
  // 5; 4 single collector and 6 process families; refused with 5 reasons,
  // build info.
  EXPECT_EQ(11 * 2 + (6 * 2 + 5) + 4 * 3 + (2 + 5) + 3 + 6 * 3, std::count(text.begin(), text.end(), '\n'));
  // The boundary, on the monotonic clock: exactly stale_after seconds old is down.
  EXPECT_TRUE(has(metrics_text(r.snapshot(at(1210)), 180, p, "v"), "up{nasid=\"00-1A-2B-3C-4D-5E\"} 0\n"));
  EXPECT_TRUE(has(metrics_text(r.snapshot({1209, 0}), 180, p, "v"), "up{nasid=\"00-1A-2B-3C-4D-5E\"} 1\n"));

  EXPECT_EQ("{\"routers\":[{\"nasid\":\"00-1A-2B-3C-4D-5E\",\"address\":\"198.18.0.2\",\"up\":true,"
            "\"first_seen\":1700001000,\"last_seen\":1700001030,\"heartbeats\":2,\"reboots\":0,"
            "\"uptime_seconds\":3600,\"load1\":1.5,\"memory_total_bytes\":67108864,\"memory_free_bytes\":16777216,"
            "\"processes\":42},{\"nasid\":\"old\",\"address\":\"198.18.0.2\",\"up\":false,\"first_seen\":1700000800,"
            "\"last_seen\":1700000800,\"heartbeats\":1,\"reboots\":0,\"uptime_seconds\":3600,\"load1\":1.5,"
            "\"memory_total_bytes\":67108864,\"memory_free_bytes\":16777216,\"processes\":42}],\"heartbeats\":3,"
            "\"refused\":{\"malformed\":0,\"foreign\":1,\"over-cap\":0,\"rate\":2,\"not-allowed\":0}}\n",
            routers_json(r.snapshot(at(1100)), 180));
}

TEST(Exposition, IdentifiersBecomeValidUtf8AndEscapedLabelValuesJsonAndHtml) {
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
  r.record(beat("x\"\\\xff"), at(1000));
  r.record(beat("<script>alert('&')</script>"), at(500));
  fleet_snapshot s = r.snapshot(at(1000));
  EXPECT_TRUE(has(metrics_text(s, 180, {}, "v"), "spotwarden_router_up{nasid=\"x\\\"\\\\x5c\\\\xff\"} 1\n"));
  EXPECT_TRUE(has(routers_json(s, 180), "{\"nasid\":\"x\\\"\\\\x5c\\\\xff\","));

  // The page: escaped identifiers, the down router first, nothing fetched
  // from elsewhere.
  std::string page = fleet_page(s, 180);
  EXPECT_FALSE(has(page, "<script>alert"));
  size_t down = page.find("<tr class=\"down\"><td data-k=\"&lt;script&gt;alert(&#39;&amp;&#39;)&lt;/script&gt;\">");
  size_t up = page.find("<tr class=\"up\"><td data-k=\"x&quot;\\x5c\\xff\">x&quot;\\x5c\\xff</td>");
  ASSERT_NE(std::string::npos, down);
  ASSERT_NE(std::string::npos, up);
  EXPECT_LT(down, up);
  EXPECT_TRUE(has(page, "<td data-k=\"1700001000\">2023-11-14 22:30:00</td>"));
  EXPECT_TRUE(has(page, "<td data-k=\"3600\">1h 0m</td><td data-k=\"1.5\">1.50</td><td data-k=\"16777216\">16.0 MiB"));
  EXPECT_TRUE(has(page, "2 routers, 1 down"));
  EXPECT_FALSE(has(page, "src=") || has(page, "href=") || has(page, "http"));
}

}  // namespace
