// Stand-in for the router's settings tool /bin/nvram, for tests and the demo
// only. "nvram get KEY" prints "KEY=VALUE" from a key=value store file
// ($NVRAM_FILE, default /etc/nvram.conf) and exits 0, or prints nothing and
// exits 1 when the key is not set. "nvram set KEY=VALUE" adds or replaces.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char* store_path() {
  const char* p = getenv("NVRAM_FILE");
  return p ? p : "/etc/nvram.conf";
}

int get(const char* key) {
  FILE* f = fopen(store_path(), "r");
  if (!f) {
    return 1;
  }
  size_t klen = strlen(key);
  char line[4096];
  int rc = 1;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, key, klen) == 0 && line[klen] == '=') {
      fputs(line, stdout);  // the line with its own line end, as stored
      rc = 0;
      break;
    }
  }
  fclose(f);
  return rc;
}

int set(const char* assignment) {
  const char* eq = strchr(assignment, '=');
  if (!eq) {
    return 2;
  }
  size_t klen = static_cast<size_t>(eq - assignment);
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.tmp", store_path());
  FILE* out = fopen(tmp, "w");
  if (!out) {
    return 1;
  }
  FILE* in = fopen(store_path(), "r");
  char line[4096];
  while (in && fgets(line, sizeof line, in)) {
    if (!(strncmp(line, assignment, klen) == 0 && line[klen] == '=')) {
      fputs(line, out);
    }
  }
  if (in) {
    fclose(in);
  }
  fprintf(out, "%s\n", assignment);
  fclose(out);
  return rename(tmp, store_path()) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "get") == 0) {
    return get(argv[2]);
  }
  if (argc == 3 && strcmp(argv[1], "set") == 0) {
    return set(argv[2]);
  }
  fprintf(stderr, "usage: nvram get KEY | nvram set KEY=VALUE\n");
  return 2;
}
