// Shared pieces of the fuzz targets: a silent log, scratch files, and the
// split of one input into several texts.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "os/log.h"

namespace fuzz {

// Messages are dropped: the system log would only slow every run down.
inline void quiet_log() {
  log_set_sink([](int, const char*) {});
}

// A private scratch directory for the life of the process, on a memory file
// system when there is one.
inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    char tmpl[64];
    snprintf(tmpl, sizeof tmpl, "%s/swfuzz.XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    if (mkdtemp(tmpl) == nullptr) {
      perror("mkdtemp");
      abort();
    }
    return std::string(tmpl);
  }();
  return dir;
}

inline std::string scratch_path(const char* name) { return scratch_dir() + "/" + name; }

// Writes the bytes to `path`, replacing what was there.
inline void write_file(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
    perror(path.c_str());
    abort();
  }
}

inline std::string read_file(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    perror(path.c_str());
    abort();
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    out.append(buf, n);
  }
  fclose(f);
  return out;
}

// The input cut at every `sep` byte: "a\0b" gives {"a", "b"}.
inline std::vector<std::string> split(const uint8_t* data, size_t size, char sep = '\0') {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<char>(data[i]) == sep) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  return parts;
}

// A check of a fuzz target that must hold for every input.
#define FUZZ_ASSERT(cond)                                                  \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                             \
    }                                                                      \
  } while (0)

}  // namespace fuzz
