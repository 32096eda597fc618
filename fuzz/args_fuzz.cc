// The supervisor's command line: any argument vector, NUL-separated.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "supervisor/args.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = fuzz::split(data, size);
  std::vector<char*> argv;
  std::string prog = "spotwarden";
  argv.push_back(prog.data());
  for (std::string& w : words) {
    argv.push_back(w.data());
  }
  int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  spotwarden_args* args = nullptr;
  if (spotwarden_args_parse(&args, argc, argv.data()) != 0) {
    return 0;
  }
  // Whatever came in, chilli gets "chilli" first and the configuration last.
  FUZZ_ASSERT(args->conf != nullptr && args->radiusnasid != nullptr);
  char** v = args->chilli_argv;
  FUZZ_ASSERT(strcmp(v[0], "chilli") == 0);
  int n = 0;
  while (v[n] != nullptr) {
    ++n;
  }
  FUZZ_ASSERT(n >= 3 && n <= argc + 7);
  FUZZ_ASSERT(strcmp(v[n - 2], "--conf") == 0 && strcmp(v[n - 1], args->conf) == 0);
  spotwarden_args_free(args);
  return 0;
}
