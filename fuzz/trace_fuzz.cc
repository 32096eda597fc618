// linkgauge's inputs that end up in shell commands: the trace output's
// gateway addresses and the settings store's URL. Whatever they hold, what
// comes out fits its buffer and is safe in a command line.
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include "bandwidth/gateways.h"
#include "bandwidth/shell.h"
#include "fuzz/fuzz_support.h"

namespace {

void check_host(const char* host, size_t size) {
  FUZZ_ASSERT(strlen(host) < size && host_text_is_safe(host));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::scratch_path("tracegw.txt");
  FuzzedDataProvider in(data, size);
  size_t host_size = in.ConsumeIntegralInRange<size_t>(1, kHostSize);
  std::string url = in.ConsumeRandomLengthString(200);
  std::string trace = in.ConsumeRemainingBytesAsString();

  std::vector<char> host(host_size);
  int r = url_host(url.c_str(), host.data(), host_size);
  check_host(host.data(), host_size);
  FUZZ_ASSERT(r == 0 ? host[0] != '\0' : host[0] == '\0');

  std::string line = trace.c_str();
  trace_line_gateway(line.c_str(), host.data(), host_size);
  check_host(host.data(), host_size);

  fuzz::write_file(path, trace);
  FILE* f = fopen(path.c_str(), "r");
  char gateways[kGatewayCount][kHostSize];
  read_gateways(f, gateways);
  fclose(f);
  for (const char* g : gateways) {
    check_host(g, kHostSize);
  }
  return 0;
}
