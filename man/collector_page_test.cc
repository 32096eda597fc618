// heartbeat-collector(8) against the program: every option its usage text
// offers is described under OPTIONS and shown in the SYNOPSIS.
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "collector/options.h"

namespace {

// The names matched by the first group of `pattern` in `text`.
std::set<std::string> names(const std::string& text, const char* pattern) {
  std::regex re(pattern);
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

TEST(CollectorManPage, DescribesAndShowsEveryOptionOfTheUsageText) {
  std::ifstream in(COLLECTOR_MAN_PAGE);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t options = page.find("\n.SH OPTIONS\n");
  ASSERT_NE(std::string::npos, options);
  std::string synopsis = page.substr(0, page.find("\n.SH DESCRIPTION\n"));
  // An option is described by the paragraph whose tag (the line after .TP) names it.
  std::set<std::string> described = names(page.substr(options, page.find("\n.SH ", options + 1) - options),
                                          R"(\.TP\n\.B[IR]? [^\n]*\\-\\-([a-z][a-z-]*))");
  std::set<std::string> shown = names(synopsis, R"(\\-\\-([a-z][a-z-]*))");
  std::set<std::string> offered = names(collector_usage(), "--([a-z][a-z-]*)");
  ASSERT_TRUE(offered.count("listen") && offered.count("help")) << collector_usage();
  for (const std::string& name : offered) {
    EXPECT_TRUE(described.count(name)) << "--" << name << " is not described under OPTIONS";
    EXPECT_TRUE(shown.count(name) || name == "help") << "--" << name << " is not in the SYNOPSIS";
  }
}

}  // namespace
