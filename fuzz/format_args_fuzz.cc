// The debug line of a command about to run, from any argument vector (URLs
// and paths come from the operator).
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "os/runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = fuzz::split(data, size);
  std::vector<char*> argv;
  size_t plain = 0;
  bool plain_words = true;
  for (std::string& w : words) {
    argv.push_back(w.data());
    plain += w.size() + 1;
    // Secret options have their values masked: the plain join is not the line.
    plain_words = plain_words && w.size() < 56 && w.find("secret") == std::string::npos;
  }
  argv.push_back(nullptr);

  // On the heap and exactly as long as promised, so a write past it is caught.
  auto* line = static_cast<char*>(malloc(512));
  format_args(argv.data(), line);
  FUZZ_ASSERT(strlen(line) <= 511);
  if (plain_words && plain <= 511) {
    std::string joined;
    for (const std::string& w : words) {
      joined += w + " ";
    }
    FUZZ_ASSERT(joined == line);
  }
  free(line);
  return 0;
}
