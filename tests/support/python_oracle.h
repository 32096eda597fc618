// Test helper: runs a short Python program (stdlib only) whose standard
// output is the expected result, so expected bytes come from a second,
// independent implementation rather than from the code under test.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/unique.h"
#include "tests/support/files.h"

// Runs `script` with python3 and the given arguments; returns its stdout.
inline std::string run_python(const char* script, const std::vector<std::string>& args) {
  TempDir dir("sworacle");
  write_file(dir.path("oracle.py"), script);
  std::string command = "python3 " + dir.path("oracle.py");
  for (const std::string& a : args) {
    command += " '" + a + "'";
  }
  std::string out;
  if (UniquePipe p{popen(command.c_str(), "r")}) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0) {
      out.append(buf, n);
    }
  }
  return out;
}
