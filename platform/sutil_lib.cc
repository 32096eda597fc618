// Stand-in for the router's libsutil: read_pid() of a pid file.
#include <stdio.h>

#include "sutil.h"

int read_pid(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) {
    return -1;
  }
  int pid = -1;
  if (fscanf(f, "%d", &pid) != 1) {
    pid = -1;
  }
  fclose(f);
  return pid;
}
