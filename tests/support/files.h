// Test helpers for files: read one whole, write one, a scratch directory that
// goes with its owner, and bytes as lower-case hex.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// The whole file at `path`; "" when it cannot be opened.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline std::string to_hex(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// A fresh directory under /tmp, removed with all it holds when destroyed.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "swtest") {
    std::string tmpl = std::string("/tmp/") + prefix + "XXXXXX";
    dir_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    if (!dir_.empty() && system(("rm -rf '" + dir_ + "'").c_str()) != 0) {
      // Nothing to do: a leftover scratch dir in /tmp harms no later test.
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return dir_; }
  // Path of `name` inside the directory.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};
