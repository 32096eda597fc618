// The portal configuration as downloaded: parameter lookup, byte comparison
// with the current file, and the secret append, on any bytes.
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include "config/chillispot_conf.h"
#include "config/text_line.h"
#include "fuzz/fuzz_support.h"

namespace {

void check_value(char* value) {
  if (value == nullptr) {
    return;
  }
  size_t n = strlen(value);
  FUZZ_ASSERT(n < kLinePiece);
  FUZZ_ASSERT(n == 0 || (!is_space(value[0]) && !is_space(value[n - 1])));
  free(value);
}

bool has_space(const std::string& s) {
  for (char c : s) {
    if (is_space(c)) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string current = fuzz::scratch_path("chilli.conf");
  static const std::string side = fuzz::scratch_path("chilli.conf.NEW");
  FuzzedDataProvider in(data, size);
  std::string name = in.ConsumeRandomLengthString(64);
  std::string secret = in.ConsumeRandomLengthString(600);
  std::string other = in.ConsumeRandomLengthString(4096);
  std::string bytes = in.ConsumeRemainingBytesAsString();
  fuzz::write_file(side, bytes);
  fuzz::write_file(current, other);

  check_value(chillispot_conf_get_param(side.c_str(), name.c_str()));

  FUZZ_ASSERT(compare_files(side.c_str(), side.c_str()) == 0);
  FUZZ_ASSERT(compare_files(current.c_str(), side.c_str()) == (other == bytes ? 0 : 1));
  FUZZ_ASSERT(compare_files(side.c_str(), current.c_str()) == (other == bytes ? 0 : 1));

  // The secret comes from the command line: one word, no line end.
  secret = secret.c_str();
  if (secret.empty() || has_space(secret)) {
    return 0;
  }
  char* before = chillispot_conf_get_param(side.c_str(), "radiussecret");
  FUZZ_ASSERT(append_secret(side.c_str(), secret.c_str()) == 0);
  std::string completed = bytes;
  if (!completed.empty() && completed.back() != '\n') {
    completed += '\n';
  }
  std::string result = fuzz::read_file(side);
  // Whatever the file held, one secret is found afterwards: ours, or the
  // operator's bare one that the completed last line makes.
  char* after = chillispot_conf_get_param(side.c_str(), "radiussecret");
  FUZZ_ASSERT(after != nullptr);
  if (before != nullptr) {
    FUZZ_ASSERT(strcmp(before, after) == 0);
  }
  if (result == completed) {
    FUZZ_ASSERT(completed != bytes && (before != nullptr || *after == '\0'));
  } else {
    FUZZ_ASSERT(result == completed + "radiussecret " + secret + "\n");
    FUZZ_ASSERT(before != nullptr || (*after != '\0' && strncmp(secret.c_str(), after, strlen(after)) == 0));
  }
  free(before);
  free(after);
  return 0;
}
