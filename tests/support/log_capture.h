// Test helper: captures LOG/DEBUG messages, including those of forked
// children, by appending "<priority> <message>" lines to a temporary file.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "os/log.h"

class LogCapture {
 public:
  LogCapture() {
    char path[] = "/tmp/swlogXXXXXX";
    fd_ = mkstemp(path);
    path_ = path;
    instance_fd() = fd_;
    log_set_sink(&LogCapture::sink);
  }
  ~LogCapture() {
    log_set_sink(nullptr);
    instance_fd() = -1;
    close(fd_);
    unlink(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every message so far, in order, as (priority, text).
  std::vector<std::pair<int, std::string>> messages() const {
    std::vector<std::pair<int, std::string>> out;
    FILE* f = fopen(path_.c_str(), "r");
    if (!f) {
      return out;
    }
    char line[2048];
    while (fgets(line, sizeof line, f)) {
      std::string text(line);
      if (!text.empty() && text.back() == '\n') {
        text.pop_back();
      }
      // Records are "<prio> <message>" with the message's own newlines
      // turned into '|' so one record is one line.
      size_t space = text.find(' ');
      out.emplace_back(atoi(text.substr(0, space).c_str()), text.substr(space + 1));
    }
    fclose(f);
    return out;
  }
  // True when some message at `priority` contains `needle`.
  bool contains(int priority, const std::string& needle) const {
    for (const auto& [prio, text] : messages()) {
      if (prio == priority && text.find(needle) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  int count(const std::string& needle) const {
    int n = 0;
    for (const auto& m : messages()) {
      n += m.second.find(needle) != std::string::npos;
    }
    return n;
  }

 private:
  static int& instance_fd() {
    static int fd = -1;
    return fd;
  }
  static void sink(int priority, const char* message) {
    std::string rec = std::to_string(priority) + " " + message;
    for (char& c : rec) {
      if (c == '\n') {
        c = '|';
      }
    }
    rec += '\n';
    if (instance_fd() >= 0) {
      ssize_t ignored = write(instance_fd(), rec.data(), rec.size());
      (void)ignored;
    }
  }
  int fd_;
  std::string path_;
};
