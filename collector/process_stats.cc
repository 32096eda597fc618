#include "collector/process_stats.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>

#include "common/unique.h"

process_stats process_stats_read(int64_t start_time) {
  process_stats p;
  p.start_time = start_time;
  char text[1024] = "";
  {
    UniqueFile f(fopen("/proc/self/stat", "re"));
    if (f && fgets(text, sizeof text, f.get())) {
      // The command name may hold spaces and parentheses: the fields
      // start after its last ')'; the third of them is field 3, state.
      const char* after = strrchr(text, ')');
      unsigned long long utime = 0, stime = 0, vsize = 0;
      long long rss = 0;
      if (after && sscanf(after + 2,
                          "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %*u %llu %lld",
                          &utime, &stime, &vsize, &rss) == 4) {
        long tick = sysconf(_SC_CLK_TCK);
        p.cpu_seconds = static_cast<double>(utime + stime) / static_cast<double>(tick > 0 ? tick : 100);
        p.virtual_bytes = vsize;
        p.resident_bytes = static_cast<uint64_t>(rss) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
      }
    }
  }
  std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir("/proc/self/fd"), closedir);
  if (fds) {
    while (const struct dirent* e = readdir(fds.get())) {
      p.open_fds += e->d_name[0] != '.';
    }
    --p.open_fds;  // the one the listing itself holds
  }
  struct rlimit limit = {};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    p.max_fds = limit.rlim_cur;
  }
  return p;
}
