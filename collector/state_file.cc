#include "collector/state_file.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "common/side_file.h"
#include "common/unique.h"

namespace {

constexpr char kHeader[] = "spotwarden-collector-state 1\n";
constexpr size_t kLineMax = 512;

std::string hex(const std::string& raw) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

int unhex(const char* text, std::string* out) {
  size_t n = strlen(text);
  if (n % 2 != 0 || n / 2 > kHeartbeatNasidMax) {
    return -1;
  }
  out->clear();
  for (size_t i = 0; i < n; i += 2) {
    unsigned value = 0;
    if (sscanf(text + i, "%2x", &value) != 1 || !isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return -1;
    }
    *out += static_cast<char>(value);
  }
  return out->find('\0') == std::string::npos ? 0 : -1;
}

}  // namespace

namespace {

// The whole save; errno's value of what failed, 0 once the file is in place
// and synced.
int save(const fleet_snapshot& s, const std::string& path) {
  SideFile side(path.c_str(), 0644);
  const int copy = side.ok() ? dup(side.fd()) : -1;
  UniqueFile f(copy >= 0 ? fdopen(copy, "we") : nullptr);
  if (!f) {
    const int error = side.ok() ? errno : side.error();
    if (copy >= 0) {
      close(copy);
    }
    return error;
  }
  fputs(kHeader, f.get());
  for (const auto& [nasid, x] : s.routers) {
    fprintf(f.get(), "%s %" PRId64 " %" PRId64 " %" PRIu64 " %" PRIu64 " %08" PRIx32 " %" PRIu32 " %" PRIu32
            " %" PRIu32 " %" PRIu32 " %u\n",
            nasid.empty() ? "-" : hex(nasid).c_str(), x.first_seen, x.last_seen, x.heartbeats, x.reboots,
            x.source, x.uptime, x.load1, x.ram_total, x.ram_free, static_cast<unsigned>(x.processes));
  }
  fprintf(f.get(), "end %zu\n", s.routers.size());
  if (f.close() != 0) {
    return errno;
  }
  return side.commit();
}

}  // namespace

int state_save(const fleet_snapshot& s, const std::string& path) {
  const int error = save(s, path);
  errno = error;
  return error == 0 ? 0 : -1;
}

int state_load(const std::string& path, moment now, registry* r, std::string* why) {
  UniqueFile f(fopen(path.c_str(), "re"));
  if (!f) {
    *why = strerror(errno);
    return -1;
  }
  char line[kLineMax];
  if (!fgets(line, sizeof line, f.get()) || strcmp(line, kHeader) != 0) {
    *why = "not a state file of this version";
    return -1;
  }
  std::vector<std::pair<std::string, router_record>> read;
  for (size_t number = 2;; ++number) {
    if (!fgets(line, sizeof line, f.get())) {
      *why = "cut short at line " + std::to_string(number);
      return -1;
    }
    size_t count = 0;
    char tail = 0;
    if (sscanf(line, "end %zu%c", &count, &tail) == 2 && tail == '\n') {
      if (count != read.size() || fgetc(f.get()) != EOF) {
        *why = "record count does not match";
        return -1;
      }
      break;
    }
    char id[2 * kHeartbeatNasidMax + 2];
    router_record x = {};
    unsigned processes = 0;
    int used = 0;
    std::string nasid;
    if (sscanf(line,
               "%127s %" SCNd64 " %" SCNd64 " %" SCNu64 " %" SCNu64 " %" SCNx32 " %" SCNu32 " %" SCNu32 " %" SCNu32
               " %" SCNu32 " %u%n",
               id, &x.first_seen, &x.last_seen, &x.heartbeats, &x.reboots, &x.source, &x.uptime, &x.load1,
               &x.ram_total, &x.ram_free, &processes, &used) != 11 ||
        strcmp(line + used, "\n") != 0 || processes > 0xFFFF ||
        (strcmp(id, "-") != 0 && unhex(id, &nasid) != 0)) {
      *why = "bad record at line " + std::to_string(number);
      return -1;
    }
    x.processes = static_cast<uint16_t>(processes);
    read.emplace_back(std::move(nasid), x);
  }
  for (auto& [nasid, x] : read) {
    r->restore(nasid, x, now);
  }
  return 0;
}

int allow_list_load(const std::string& path, std::unordered_set<std::string>* out, std::string* why) {
  UniqueFile f(fopen(path.c_str(), "re"));
  if (!f) {
    *why = strerror(errno);
    return -1;
  }
  std::unordered_set<std::string> read;
  char line[kLineMax];
  for (size_t number = 1; fgets(line, sizeof line, f.get()); ++number) {
    size_t n = strcspn(line, "\r\n");
    if (line[n] == '\0' && !feof(f.get())) {
      *why = "line " + std::to_string(number) + " too long";
      return -1;
    }
    if (n == 0 || line[0] == '#') {
      continue;
    }
    if (n > kHeartbeatNasidMax) {
      *why = "line " + std::to_string(number) + ": longer than a NAS identifier can be";
      return -1;
    }
    read.emplace(line, n);
  }
  if (ferror(f.get())) {
    *why = strerror(errno);
    return -1;
  }
  *out = std::move(read);
  return 0;
}
