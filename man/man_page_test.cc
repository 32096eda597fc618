// The settings section of spotwarden(8) against the code: every key it
// documents must be one the parser knows, all of them must be there, and
// each default it states must be the one the record really starts with.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "build_config.h"
#include "config/spotwarden_conf.h"
#include "portal/status.h"
#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

struct Documented {
  std::string type;
  std::string default_text;
};

// key -> (type, default) from lines such as
//   .BR telemetry_setuptime " (integer, seconds, default 120)"
std::map<std::string, Documented> documented_keys() {
  std::ifstream in(SPOTWARDEN_MAN_PAGE);
  std::map<std::string, Documented> keys;
  std::regex entry(R"re(^\.BR ([a-z_]+) " \((integer|string), [^"]*default ([^")]+)\)"$)re");
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (line.rfind(".SH", 0) == 0) {
      in_section = line == ".SH SETTINGS FILE";
      continue;
    }
    std::smatch m;
    if (in_section && std::regex_match(line, m, entry)) {
      keys[m[1]] = {m[2], m[3]};
    }
  }
  return keys;
}

std::string int_text(int32_t value) { return std::to_string(value); }
std::string string_text(const char* value) { return value ? value : "none"; }

std::map<std::string, std::string> actual_defaults(const spotwarden_conf* c) {
  std::map<std::string, std::string> values;
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    values[k.name] = k.number ? int_text(c->*k.number) : string_text(c->*k.text);
  }
  return values;
}

TEST(SpotwardenManPage, DocumentsExactlyTheEighteenKeysWithTheirRealDefaults) {
  std::map<std::string, Documented> keys = documented_keys();
  spotwarden_conf* conf = nullptr;
  spotwarden_conf_new(&conf);
  std::map<std::string, std::string> actual = actual_defaults(conf);
  spotwarden_conf_free(conf);

  ASSERT_EQ(18u, keys.size());
  for (const auto& [key, value] : actual) {
    auto it = keys.find(key);
    ASSERT_NE(keys.end(), it) << key << " is not documented";
    EXPECT_EQ(value, it->second.default_text) << key;
  }
  for (const spotwarden_conf_key& k : kSpotwardenConfKeys) {
    EXPECT_EQ(k.text ? "string" : "integer", keys[k.name].type) << k.name;
  }
}

TEST(SpotwardenManPage, EveryDocumentedKeyIsAcceptedByTheParser) {
  char path[] = "/tmp/swmanXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text = "# spotwarden.conf\n";
  for (const auto& [key, doc] : documented_keys()) {
    text += key + (doc.type == "integer" ? " 7\n" : " value\n");
  }
  ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);

  LogCapture log;
  spotwarden_conf* conf = nullptr;
  spotwarden_conf_new(&conf);
  EXPECT_EQ(0, spotwarden_conf_parse(conf, path));
  unlink(path);
  std::map<std::string, std::string> parsed = actual_defaults(conf);
  spotwarden_conf_free(conf);

  for (const auto& [priority, message] : log.messages()) {
    EXPECT_EQ(nullptr, strstr(message.c_str(), "unknown config key")) << message;
  }
  for (const auto& [key, value] : parsed) {
    EXPECT_TRUE(value == "7" || value == "value") << key << " was not set by its documented name";
  }
}

// The keys the STATUS FILE section lists, each the ".B key" after a ".TP".
std::vector<std::string> documented_status_keys() {
  std::ifstream in(SPOTWARDEN_MAN_PAGE);
  std::vector<std::string> keys;
  std::string line;
  bool in_section = false;
  bool after_tp = false;
  while (std::getline(in, line)) {
    if (line.rfind(".SH", 0) == 0) {
      in_section = line == ".SH STATUS FILE";
    } else if (in_section && after_tp && line.rfind(".B ", 0) == 0) {
      keys.push_back(line.substr(3));
    }
    after_tp = line == ".TP";
  }
  return keys;
}

TEST(SpotwardenManPage, DocumentsTheStatusFileKeysInTheOrderTheyAreWritten) {
  SW_SKIP_UNLESS_ROOT(private_var_run(), "a private /var/run");
  status_enter(status_state::starting, nullptr);
  std::ifstream in(kStatusPath);
  std::vector<std::string> written;
  std::string line;
  while (std::getline(in, line)) {
    written.push_back(line.substr(0, line.find('=')));
  }
  EXPECT_EQ(13u, written.size());
  EXPECT_EQ(written, documented_status_keys());
}

}  // namespace
