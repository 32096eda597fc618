// The supervisor's settings file as downloaded: the first-line check, then
// the parser, on any bytes.
#include <string.h>

#include "config/check_config_file.h"
#include "config/spotwarden_conf.h"
#include "config/text_line.h"
#include "fuzz/fuzz_support.h"

namespace {

// What the first-line check must answer: the first line (at most 255 bytes,
// up to a NUL) starts with '#' and contains the name.
bool first_line_ok(const std::string& bytes, const char* name) {
  std::string line = bytes.substr(0, 255);
  size_t nl = line.find('\n');
  if (nl != std::string::npos) {
    line.resize(nl + 1);
  }
  line = line.c_str();
  return !line.empty() && line[0] == '#' && line.find(name) != std::string::npos;
}

// A text setting is one trimmed line piece.
void check_text(const char* value) {
  if (value == nullptr) {
    return;
  }
  size_t n = strlen(value);
  FUZZ_ASSERT(n < kLinePiece && strchr(value, '\n') == nullptr);
  FUZZ_ASSERT(n == 0 || !is_space(value[n - 1]));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::scratch_path("spotwarden.conf");
  std::string bytes(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(path, bytes);

  for (const char* name : {kSpotwardenConfName, "chilli.conf"}) {
    FUZZ_ASSERT((check_config_file(path.c_str(), name) == 0) == first_line_ok(bytes, name));
  }

  spotwarden_conf* conf = nullptr;
  spotwarden_conf_new(&conf);
  FUZZ_ASSERT(spotwarden_conf_parse(conf, path.c_str()) == 0);
  FUZZ_ASSERT(conf->webping_url != nullptr && conf->icmpping_host != nullptr);
  check_text(conf->webping_url);
  check_text(conf->icmpping_host);
  check_text(conf->radiussecret);
  spotwarden_conf_free(conf);
  return 0;
}
