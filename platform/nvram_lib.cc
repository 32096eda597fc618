// Stand-in for the router's libnvram: nvram_get() reads the same key=value
// store as the nvram tool ($NVRAM_FILE, default /etc/nvram.conf).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "nvram.h"

char* nvram_get(const char* name) {
  // The router's library hands out texts it owns; one static slot is enough
  // for callers that use each value before asking for the next.
  static char value[4096];
  const char* path = getenv("NVRAM_FILE");
  FILE* f = fopen(path ? path : "/etc/nvram.conf", "r");
  if (!f || !name) {
    if (f) {
      fclose(f);
    }
    return nullptr;
  }
  size_t klen = strlen(name);
  char* found = nullptr;
  // A store in flash ends at a NUL or an erased (0xff) byte.
  while (fgets(value, sizeof value, f) && value[0] != '\0' && static_cast<unsigned char>(value[0]) != 0xff) {
    if (strncmp(value, name, klen) == 0 && value[klen] == '=') {
      value[strcspn(value, "\n")] = '\0';
      memmove(value, value + klen + 1, strlen(value + klen + 1) + 1);
      found = value;
      break;
    }
  }
  fclose(f);
  return found;
}
