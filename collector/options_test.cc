#include "collector/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int parse(std::vector<const char*> args, collector_options* out) {
  args.insert(args.begin(), "heartbeat-collector");
  args.push_back(nullptr);
  return collector_options_parse(static_cast<int>(args.size()) - 1, const_cast<char* const*>(args.data()), out);
}

TEST(CollectorOptions, DefaultsEachOptionAndEveryRejection) {
  collector_options o;
  ASSERT_EQ(0, parse({}, &o));
  EXPECT_EQ("127.0.0.1", o.host);
  EXPECT_EQ(9595, o.port);
  EXPECT_EQ(180, o.stale_after);
  EXPECT_EQ(604800, o.forget_after);
  EXPECT_EQ(200000u, o.max_routers);
  EXPECT_EQ(10u, o.new_per_source);
  EXPECT_EQ("", o.allow_file + o.state_file + o.web_config_file);
  EXPECT_FALSE(o.help);

  ASSERT_EQ(0, parse({"--listen", "198.18.0.1:9100", "--stale-after=5", "--forget-after", "60", "-h"}, &o));
  EXPECT_EQ("198.18.0.1", o.host);
  EXPECT_EQ(9100, o.port);
  EXPECT_EQ(5, o.stale_after);
  EXPECT_EQ(60, o.forget_after);
  EXPECT_TRUE(o.help);
  ASSERT_EQ(0, parse({"--listen", "[::]:80"}, &o));
  EXPECT_EQ("::", o.host);
  ASSERT_EQ(0, parse({"--max-routers", "5", "--new-per-source=1000000000", "--allow", "/a", "--state-file", "/s",
                      "--web-config", "/w"}, &o));
  EXPECT_EQ(5u, o.max_routers);
  EXPECT_EQ(1000000000u, o.new_per_source);
  EXPECT_EQ("/a /s /w", o.allow_file + " " + o.state_file + " " + o.web_config_file);

  for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
           {"--listen"}, {"--listen", "9595"}, {"--listen", ":9595"}, {"--listen", "h:0"},
           {"--listen", "h:65536"}, {"--listen", "h:95x"}, {"--stale-after", "0"}, {"--stale-after", "-5"},
           {"--stale-after", "1m"}, {"--forget-after", ""}, {"--forget-after", "99999999999999999999"},
           {"--max-routers", "0"}, {"--max-routers", "-1"}, {"--max-routers", "100000001"},
           {"--new-per-source", "0"}, {"--new-per-source", "1e3"}, {"--allow", ""}, {"--state-file"},
           {"--verbose"}, {"-x"}, {"extra"}}) {
    collector_options fresh;
    EXPECT_EQ(-1, parse(bad, &fresh)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
  }
}

}  // namespace
