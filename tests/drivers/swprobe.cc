// Test driver: runs one probe with the arguments given, so the end-to-end
// tests can exercise the real functions inside the simulated router.
//   swprobe acct SERVER NASID SECRET|- RETRIES TIMEOUT
//   swprobe auth SERVER NASID SECRET|- RETRIES TIMEOUT
//   swprobe ping HOST NASID PASSES TIMEOUT
// Prints "result N" with the probe's result; exit status 0 when it is 0.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "probes/icmp.h"
#include "probes/radius.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: swprobe acct|auth SERVER NASID SECRET|- RETRIES TIMEOUT\n"
          "       swprobe ping HOST NASID PASSES TIMEOUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  srandom(static_cast<unsigned>(time(nullptr)) ^ static_cast<unsigned>(getpid()));
  int result;
  if (argc == 7 && (strcmp(argv[1], "acct") == 0 || strcmp(argv[1], "auth") == 0)) {
    const char* secret = strcmp(argv[4], "-") == 0 ? nullptr : argv[4];
    auto probe = strcmp(argv[1], "acct") == 0 ? test_radius_acct : test_radius_auth;
    result = probe(argv[2], argv[3], secret, atoi(argv[5]), atoi(argv[6]));
  } else if (argc == 6 && strcmp(argv[1], "ping") == 0) {
    result = test_ping(argv[2], argv[3], atoi(argv[4]), atoi(argv[5]));
  } else {
    return usage();
  }
  printf("result %d\n", result);
  return result == 0 ? 0 : 1;
}
