// heartbeat-collector(8) against the program: every option its usage text
// offers is described under OPTIONS and shown in the SYNOPSIS.
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "collector/options.h"

namespace {

// The lines of the page's section `name`, up to the next ".SH".
std::string section(const std::string& name) {
  std::ifstream in(COLLECTOR_MAN_PAGE);
  std::string line;
  std::string text;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind(".SH", 0) == 0) {
      inside = line == ".SH " + name;
    } else if (inside) {
      text += line + "\n";
    }
  }
  return text;
}

// The long options in `text`, written as roff writes them ("\-\-listen").
std::set<std::string> long_options(const std::string& text, const std::regex& pattern) {
  std::set<std::string> names;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

TEST(CollectorManPage, DescribesAndShowsEveryOptionOfTheUsageText) {
  std::set<std::string> offered = long_options(collector_usage(), std::regex("--([a-z][a-z-]*)"));
  ASSERT_TRUE(offered.count("listen") && offered.count("help")) << collector_usage();
  // An option is described by the paragraph whose tag (the line after .TP) names it.
  std::set<std::string> described =
      long_options(section("OPTIONS"), std::regex(R"(\.TP\n\.B[IR]? [^\n]*\\-\\-([a-z][a-z-]*))"));
  std::set<std::string> shown = long_options(section("SYNOPSIS"), std::regex(R"(\\-\\-([a-z][a-z-]*))"));
  for (const std::string& name : offered) {
    EXPECT_TRUE(described.count(name)) << "--" << name << " is not described under OPTIONS";
    EXPECT_TRUE(shown.count(name) || name == "help") << "--" << name << " is not in the SYNOPSIS";
  }
}

}  // namespace
