// Test helper: a scratch directory put first on PATH, where tests install
// small shell scripts that stand in for wget, killall and the like, and
// keep the files those scripts and the code under test write.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

class FakePrograms {
 public:
  FakePrograms() {
    char tmpl[] = "/tmp/swfakeXXXXXX";
    dir_ = mkdtemp(tmpl);
    old_path_ = getenv("PATH");
    setenv("PATH", (dir_ + ":" + old_path_).c_str(), 1);
  }
  ~FakePrograms() {
    setenv("PATH", old_path_.c_str(), 1);
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) {
      // Nothing to do: a leftover scratch dir in /tmp harms no later test.
    }
  }
  FakePrograms(const FakePrograms&) = delete;
  FakePrograms& operator=(const FakePrograms&) = delete;

  // Installs an executable shell script `name`; "$D" in it is the scratch dir.
  void program(const std::string& name, const std::string& body) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\nD='" << dir_ << "'\n" << body << "\n";
    chmod(path.c_str(), 0755);
  }
  // Path of `name` inside the scratch dir.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }

 private:
  std::string dir_;
  std::string old_path_;
};
