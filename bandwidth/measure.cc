#include "bandwidth/measure.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "bandwidth/shell.h"
#include "common/clock.h"
#include "common/side_file.h"
#include "common/unique.h"

namespace {

constexpr int kPacketsPerTest = 40;
constexpr int kHeaderAllowance = 54;
constexpr int kSizeSteps = 10;
constexpr int kFurtherSamples = 4;
constexpr int kLeastUsableSamples = 3;
// (40 packets x size bytes) / (8192 x m) x 1000 for size = 64 x m.
constexpr float kStepTimeLimitMs = 312.5f;

}  // namespace

void copy_text(char* dst, const char* src, size_t size) {
  size_t n = strlen(src);
  if (n >= size) {
    n = size - 1;
  }
  memcpy(dst, src, n);
  dst[n] = '\0';
}

int ping_line_average(const char* line, char* avg, size_t size) {
  char text[kLineSize];
  copy_text(text, line, sizeof text);
  char* save = nullptr;
  for (char* tok = strtok_r(text, " ", &save); tok; tok = strtok_r(nullptr, " ", &save)) {
    if (strcmp(tok, "min/avg/max") != 0) {
      continue;
    }
    avg[0] = '\0';
    // The token after the label is ping's "=".
    if (strtok_r(nullptr, " ", &save) == nullptr) {
      return 1;
    }
    char* times = strtok_r(nullptr, " ", &save);
    if (times == nullptr) {
      return 1;
    }
    char* field_save = nullptr;
    if (strtok_r(times, "/", &field_save) == nullptr) {
      return 1;
    }
    const char* field = strtok_r(nullptr, "/", &field_save);
    if (field != nullptr) {
      copy_text(avg, field, size);
    }
    return 1;
  }
  return 0;
}

float read_ping_average(FILE* output) {
  // As long as a line, so an average time is always held whole.
  char avg[kLineSize] = {};
  char line[kLineSize];
  while (fgets(line, sizeof line, output)) {
    ping_line_average(line, avg, sizeof avg);
  }
  return static_cast<float>(atof(avg));
}

float round_estimate(float estimate) {
  if (estimate > 0 && estimate < 1024) {
    float grid = 128;
    while (grid < estimate) {
      grid += 128;
    }
    return grid;
  }
  return estimate;
}

namespace {

// Mode of the result files whatever the umask (linkgauge runs with umask 0).
constexpr mode_t kResultMode = 0644;

// Writes `text` whole into the file open at `fd` (mode kResultMode) and
// closes it; false on any failure.
bool write_whole(UniqueFd fd, const char* text) {
  if (!fd || fchmod(fd.get(), kResultMode) != 0) {
    return false;
  }
  size_t left = strlen(text);
  while (left > 0) {
    ssize_t n = write(fd.get(), text, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    text += n;
    left -= static_cast<size_t>(n);
  }
  return fd.close() == 0;
}

}  // namespace

// A reader (or a SIGTERM) never meets an empty or cut result: the text goes
// into a side file that is renamed over the result only once it is written
// whole. /var/tmp is open to every user: the side file is made afresh, never
// through a name someone else left there.
void write_result_files(const char* text) {
  for (const char* path : {kResultFile, kResultCopyFile}) {
    SideFile side(path, kResultMode);
    side.write(text, strlen(text));
    const int error = side.commit();
    if (side.in_place()) {
      continue;
    }
    // A full /var/tmp has no room for a second file: an earlier run's
    // estimate must not stay behind looking like this run's, so the result
    // is rewritten in place (a reader may then see it cut short).
    bool written = write_whole(UniqueFd(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                                             kResultMode)),
                               text);
    syslog(LOG_NOTICE, "linkgauge: cannot write %s (%s), %s in place", side.side_path(), strerror(error),
           written ? "result written" : "failed to write the result");
  }
}

int set_not_estimated_into_file() {
  write_result_files("0");
  return 0;
}

float transmit_test_packet(int count, int size, const char* burst_host, const char* probe_host,
                           const char* ping_file) {
  if (!host_text_is_safe(burst_host) || !host_text_is_safe(probe_host)) {
    return 0;
  }
  run_shell("rm -rf %s", ping_file);
  run_shell("ping -t %d -s %d %s ", count - 1, size - kHeaderAllowance, burst_host);
  run_shell("ping -c 1 -s %d %s > %s", size - kHeaderAllowance, probe_host, ping_file);
  UniqueFile output(fopen(ping_file, "r"));
  while (!output) {
    os_sleep(1);
    output.reset(fopen(ping_file, "r"));
  }
  return read_ping_average(output.get());
}

int measure_bandwidth(const char* burst_host, const char* probe_host, const char* ping_file) {
  int size = 0;
  float first = 0;
  for (int step = 0, m = 1; step < kSizeSteps && first == 0; ++step, m *= 2) {
    float r = transmit_test_packet(kPacketsPerTest, 64 * m, burst_host, probe_host, ping_file);
    if (r == 0) {
      return 0;
    }
    if (r > kStepTimeLimitMs) {
      size = 64 * m;
      first = r;
    }
  }
  if (first == 0) {
    return 0;
  }

  float sum = first;
  float minimum = first;
  float maximum = first;
  int failures = 0;
  for (int i = 0; i < kFurtherSamples; ++i) {
    float x = transmit_test_packet(kPacketsPerTest, size, burst_host, probe_host, ping_file);
    if (x > 0) {
      sum = sum + x;
      if (x < minimum) {
        minimum = x;
      } else if (x > maximum) {
        maximum = x;
      }
    } else {
      failures = failures + 1;
    }
  }
  int n = kLeastUsableSamples - failures;
  if (n <= 0) {
    return 0;
  }
  float mean = ((sum - minimum) - maximum) / static_cast<float>(n);
  float estimate = ((static_cast<float>(kPacketsPerTest) * static_cast<float>(size) * 8.0f) * 1000.0f) /
                   (mean * 1024.0f);
  // Samples of wildly different magnitude can cancel to a mean of 0 in
  // single precision; there is no rate to report then.
  if (!(mean > 0) || !isfinite(estimate)) {
    return 0;
  }
  char text[kResultSize];
  snprintf(text, sizeof text, "%.0f", static_cast<double>(round_estimate(estimate)));
  write_result_files(text);
  return 1;
}
