#include "config/check_config_file.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "common/unique.h"
#include "os/log.h"
#include "os/runner.h"

int check_config_file(const char* path, const char* name) {
  UniqueFile f(fopen(path, "r"));
  if (!f) {
    DEBUG("failed to open config file '%s'\n", path);
    unlink(path);
    return -1;
  }
  char line[256];
  bool got = fgets(line, sizeof line, f.get()) != nullptr;
  f.close();
  if (got && line[0] == '#' && strstr(line, name) != nullptr) {
    DEBUG("config file '%s' looks OK!\n", path);
    return 0;
  }
  DEBUG("config file '%s' is invalid...\n", path);
  return -1;
}

int checked_download(const char* url, const char* path, const char* name) {
  int status = run_wget(url, path);
  if (check_config_file(path, name) != 0) {
    return -1;
  }
  if (status != 0) {
    DEBUG("download of '%s' incomplete, wget status %d\n", path, status);
    return -1;
  }
  return 0;
}
