// Output of ping as linkgauge reads it back: the summary's average time and
// the loss figure, from any bytes.
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include "bandwidth/gateways.h"
#include "bandwidth/measure.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::scratch_path("ping.txt");
  FuzzedDataProvider in(data, size);
  size_t avg_size = in.ConsumeIntegralInRange<size_t>(1, kLineSize);
  std::string output = in.ConsumeRemainingBytesAsString();

  std::string line = output.c_str();
  std::vector<char> avg(avg_size, 'x');
  avg.back() = '\0';
  int found = ping_line_average(line.c_str(), avg.data(), avg_size);
  FUZZ_ASSERT(strlen(avg.data()) < avg_size);
  FUZZ_ASSERT(found == 1 || avg[0] == (avg_size > 1 ? 'x' : '\0'));
  int loss = line_reports_full_loss(line.c_str());
  FUZZ_ASSERT(loss == 0 || loss == 1);

  fuzz::write_file(path, output);
  FILE* f = fopen(path.c_str(), "r");
  float average = read_ping_average(f);
  fclose(f);
  // atof() reads any text; whatever it makes of it, the reader returns it.
  (void)average;
  return 0;
}
