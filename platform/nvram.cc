// Stand-in for the router's settings tool /bin/nvram, for tests and the demo
// only. "nvram get KEY" prints "KEY=VALUE" from a key=value store file
// ($NVRAM_FILE, default /etc/nvram.conf) and exits 0, or prints nothing and
// exits 1 when the key is not set. "nvram set KEY=VALUE" adds or replaces.
// The store may be a flash partition (/dev/mtdN on the emulated router): its
// lines end at a NUL or an erased (0xff) byte.
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* store_path() {
  const char* p = getenv("NVRAM_FILE");
  return p ? p : "/etc/nvram.conf";
}

// Reads the next line of the store into `line`; false at its end.
bool next_line(FILE* f, char* line, int size) {
  return fgets(line, size, f) && line[0] != '\0' && static_cast<unsigned char>(line[0]) != 0xff;
}

int get(const char* key) {
  FILE* f = fopen(store_path(), "r");
  if (!f) {
    return 1;
  }
  size_t klen = strlen(key);
  char line[4096];
  int rc = 1;
  while (next_line(f, line, sizeof line)) {
    if (strncmp(line, key, klen) == 0 && line[klen] == '=') {
      fputs(line, stdout);  // the line with its own line end, as stored
      rc = 0;
      break;
    }
  }
  fclose(f);
  return rc;
}

// The store's lines but the one of the assignment's key, then the assignment.
void compose(FILE* out, const char* assignment) {
  size_t klen = static_cast<size_t>(strchr(assignment, '=') - assignment);
  FILE* in = fopen(store_path(), "r");
  char line[4096];
  while (in && next_line(in, line, sizeof line)) {
    if (!(strncmp(line, assignment, klen) == 0 && line[klen] == '=')) {
      fputs(line, out);
    }
  }
  if (in) {
    fclose(in);
  }
  fprintf(out, "%s\n", assignment);
}

// A device cannot be replaced by a rename: it is written in place, with a
// NUL after the text so the rest of an older, longer store is not read. Raw
// flash programs only 1 bits to 0, so the blocks written are erased first.
int rewrite_device(const char* text, size_t len) {
  int fd = open(store_path(), O_RDWR);
  if (fd < 0) {
    return 1;
  }
  int rc = 1;
  mtd_info_t info;
  bool erased = true;
  if (ioctl(fd, MEMGETINFO, &info) == 0) {
    erase_info_t block = {0, static_cast<__u32>((len + info.erasesize) / info.erasesize * info.erasesize)};
    erased = block.length <= info.size && ioctl(fd, MEMERASE, &block) == 0;
  }
  if (erased && pwrite(fd, text, len + 1, 0) == static_cast<ssize_t>(len + 1) && fsync(fd) == 0) {
    rc = 0;
  }
  close(fd);
  return rc;
}

int set(const char* assignment) {
  if (!strchr(assignment, '=')) {
    return 2;
  }
  struct stat st;
  if (stat(store_path(), &st) == 0 && !S_ISREG(st.st_mode)) {
    char* text = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&text, &len);
    if (!out) {
      return 1;
    }
    compose(out, assignment);
    int rc = fclose(out) == 0 ? rewrite_device(text, len) : 1;
    free(text);
    return rc;
  }
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.tmp", store_path());
  FILE* out = fopen(tmp, "w");
  if (!out) {
    return 1;
  }
  compose(out, assignment);
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
