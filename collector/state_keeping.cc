#include "collector/state_keeping.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <unordered_set>
#include <utility>

#include "collector/state_file.h"

int load_allow_list(const std::string& path, shared_registry* shared) {
  std::unordered_set<std::string> allowed;
  std::string why;
  if (allow_list_load(path, &allowed, &why) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s\n", path.c_str(), why.c_str());
    return -1;
  }
  size_t count = allowed.size();
  std::lock_guard<std::mutex> guard(shared->lock);
  shared->records.allow(std::move(allowed));
  fprintf(stderr, "heartbeat-collector: %s: %zu NAS identifiers allowed\n", path.c_str(), count);
  return 0;
}

void restore_state(const std::string& path, shared_registry* shared) {
  if (path.empty()) {
    return;
  }
  std::string why;
  if (state_load(path, now_moment(), &shared->records, &why) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s: starting empty\n", path.c_str(), why.c_str());
  } else {
    fprintf(stderr, "heartbeat-collector: %s: %zu records read\n", path.c_str(), shared->records.routers().size());
  }
}

void save_state(const std::string& path, shared_registry* shared, int64_t forget_after) {
  if (path.empty()) {
    return;
  }
  if (state_save(take_snapshot(shared, forget_after), path) != 0) {
    fprintf(stderr, "heartbeat-collector: %s: %s\n", path.c_str(), strerror(errno));
  }
}
