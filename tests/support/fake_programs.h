// Test helper: a scratch directory put first on PATH, where tests install
// small shell scripts that stand in for wget, killall, ping and the like,
// and keep the files those scripts and the code under test write.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/files.h"

class FakePrograms {
 public:
  FakePrograms() : dir_("swfake"), old_path_(getenv("PATH")) {
    setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
  }
  ~FakePrograms() { setenv("PATH", old_path_.c_str(), 1); }
  FakePrograms(const FakePrograms&) = delete;
  FakePrograms& operator=(const FakePrograms&) = delete;

  // Installs an executable shell script `name`; "$D" in it is the scratch dir.
  void program(const std::string& name, const std::string& body) {
    write(name, "#!/bin/sh\nD='" + dir_.path() + "'\n" + body + "\n");
    chmod(path(name).c_str(), 0755);
  }
  // Path of `name` inside the scratch dir.
  std::string path(const std::string& name) const { return dir_.path(name); }
  void write(const std::string& name, const std::string& content) const { write_file(path(name), content); }
  std::string read(const std::string& name) const { return read_file(path(name)); }
  bool exists(const std::string& name) const { return file_exists(path(name)); }

 private:
  TempDir dir_;
  std::string old_path_;
};
