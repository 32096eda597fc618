// Test helper: runs a short Python program (stdlib only) whose standard
// output is the expected result, so expected bytes come from a second,
// independent implementation rather than from the code under test.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

// Runs `script` with python3 and the given arguments; returns its stdout.
inline std::string run_python(const char* script, const std::vector<std::string>& args) {
  char path[] = "/tmp/sworacleXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) {
    return "mkstemp failed";
  }
  std::string text(script);
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
  std::string command = std::string("python3 ") + path;
  for (const std::string& a : args) {
    command += " '" + a + "'";
  }
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
      out.append(buf, n);
    }
    pclose(p);
  }
  unlink(path);
  return out;
}

inline std::string to_hex(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}
