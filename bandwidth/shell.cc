#include "bandwidth/shell.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

int run_shell(const char* format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(command, sizeof command, format, args);
  va_end(args);
  // A cut command line could name another file or host than meant.
  if (n < 0 || static_cast<size_t>(n) >= sizeof command) {
    return -1;
  }
  return system(command);
}
