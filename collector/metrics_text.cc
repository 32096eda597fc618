#include "collector/metrics_text.h"

#include <arpa/inet.h>
#include <stdio.h>

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>
#include <vector>

#include "collector/exposition.h"
#include "collector/growing_text.h"

namespace {

// Escapes for a label value: backslash, double quote and line feed.
void append_label_value(std::string& out, const std::string& value) {
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
}

// The label of an identifier of printable ASCII with nothing to escape is
// the identifier itself: most are, and they skip two copies.
void append_nasid_label(std::string& out, const std::string& nasid) {
  for (unsigned char c : nasid) {
    if (c < 0x20 || c > 0x7E || c == '\\' || c == '"') {
      append_label_value(out, printable_nasid(nasid));
      return;
    }
  }
  out += nasid;
}

// As inet_ntop writes it, without its string.
void append_address(std::string& out, uint32_t source) {
  const auto* octet = reinterpret_cast<const unsigned char*>(&source);
  for (int i = 0; i < 4; ++i) {
    char text[4];
    out.append(text, std::to_chars(text, text + sizeof text, octet[i]).ptr);
    if (i < 3) {
      out += '.';
    }
  }
}

void append_number(std::string& out, int64_t value) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

void append_unsigned(std::string& out, uint64_t value) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// A family of per-router series. The telemetry of a router's last heartbeat
// is withdrawn once it is stale: an old reading shown as current misleads.
struct family {
  std::string_view name;
  const char* type;
  const char* help;
  bool while_up_only;
  void (*value)(std::string& out, const router_record& r, bool up);
};

constexpr std::string_view kInfo = "spotwarden_router_info";
constexpr char kInfoHelp[] = "The router's address: that of its last heartbeat.";

const family kFamilies[] = {
    {"spotwarden_router_up", "gauge", "1 while the router's last heartbeat is younger than --stale-after, else 0.",
     false, [](std::string& out, const router_record&, bool up) { out += up ? '1' : '0'; }},
    {"spotwarden_router_last_seen_timestamp_seconds", "gauge", "When the router's last heartbeat arrived.", false,
     [](std::string& out, const router_record& r, bool) { append_number(out, r.last_seen); }},
    {"spotwarden_router_boot_time_seconds", "gauge",
     "When the router booted: its last heartbeat's arrival less the uptime it carried.", false,
     [](std::string& out, const router_record& r, bool) { append_number(out, r.last_seen - r.uptime); }},
    {"spotwarden_router_uptime_seconds", "gauge", "The router's uptime in its last heartbeat.", true,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.uptime); }},
    {"spotwarden_router_load1", "gauge", "The router's 1-minute load average in its last heartbeat.", true,
     [](std::string& out, const router_record& r, bool) { out += load_text(r.load1); }},
    {"spotwarden_router_memory_total_bytes", "gauge", "The router's total RAM in its last heartbeat.", true,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.ram_total); }},
    {"spotwarden_router_memory_free_bytes", "gauge", "The router's free RAM in its last heartbeat.", true,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.ram_free); }},
    {"spotwarden_router_processes", "gauge", "The router's process count in its last heartbeat.", true,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.processes); }},
    {"spotwarden_router_heartbeats_total", "counter", "Heartbeats received from the router.", false,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.heartbeats); }},
    {"spotwarden_router_reboots_total", "counter", "Times the router rebooted: its uptime went backwards or its boot moment moved on.", false,
     [](std::string& out, const router_record& r, bool) { append_unsigned(out, r.reboots); }},
};

void append_family_head(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

// A family of one sample without labels.
void append_single(std::string& out, const char* name, const char* type, const char* help, const std::string& value) {
  append_family_head(out, name, type, help);
  out += name;
  out += ' ';
  out += value;
  out += '\n';
}

std::string decimal(double value) {
  char text[40];
  snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The collector's own families, after the routers'.
void append_collector_families(std::string& out, const fleet_snapshot& s, const process_stats& p,
                               const char* version) {
  append_single(out, "spotwarden_collector_routers", "gauge", "Records held, one per NAS identifier.",
                std::to_string(s.routers.size()));
  append_single(out, "spotwarden_collector_max_routers", "gauge", "The most records held (--max-routers).",
                std::to_string(s.max_routers));
  append_single(out, "spotwarden_collector_heartbeats_total", "counter", "Heartbeats accepted.",
                std::to_string(s.accepted));
  append_family_head(out, "spotwarden_collector_refused_total", "counter",
                     "Datagrams refused: malformed heartbeats, foreign echo requests, new identifiers over the "
                     "cap, over a source's rate or not allowed.");
  for (size_t i = 0; i < kRefusalKinds; ++i) {
    out += "spotwarden_collector_refused_total{reason=\"";
    out += refusal_name(static_cast<refusal>(i));
    out += "\"} " + std::to_string(s.refused[i]) + "\n";
  }
  append_single(out, "spotwarden_collector_kernel_drops_total", "counter",
                "Datagrams the kernel dropped because the receive queue was full.", std::to_string(s.kernel_drops));
  append_family_head(out, "spotwarden_collector_build_info", "gauge", "The collector's version.");
  out += "spotwarden_collector_build_info{version=\"";
  append_label_value(out, version);
  out += "\"} 1\n";
  append_single(out, "process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.",
                decimal(p.cpu_seconds));
  append_single(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
                std::to_string(p.resident_bytes));
  append_single(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
                std::to_string(p.virtual_bytes));
  append_single(out, "process_open_fds", "gauge", "Number of open file descriptors.", std::to_string(p.open_fds));
  append_single(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.",
                std::to_string(p.max_fds));
  append_single(out, "process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.",
                std::to_string(p.start_time));
}

// Longer than any value's text: 20 digits and a sign, a load's 16.
constexpr size_t kValueMax = 24;
// How often a reader of the text is told of it, and how far ahead of the
// writer its pages are asked for.
constexpr size_t kStep = 2 << 20;

size_t head_size(std::string_view name, std::string_view type, std::string_view help) {
  return 2 * name.size() + type.size() + help.size() + sizeof "# HELP  \n# TYPE  \n";
}

}  // namespace

void metrics_text(std::string& out, const fleet_snapshot& s, int64_t stale_after, const process_stats& p,
                  const char* version, const text_progress& grew) {
  std::string tail;
  append_collector_families(tail, s, p, version);
  // The labels of each router once, one after the other; every family
  // repeats them.
  std::string labels;
  size_t unescaped = 0;
  for (const auto& router : s.routers) {
    unescaped += router.first.size() + sizeof "{nasid=\"\"} ";
  }
  labels.reserve(unescaped);
  prefault(labels.data(), labels.capacity());
  std::vector<size_t> label_end;
  label_end.reserve(s.routers.size());
  std::vector<bool> up;
  up.reserve(s.routers.size());
  size_t bound = head_size(kInfo, "gauge", kInfoHelp) + tail.size();
  for (const family& f : kFamilies) {
    bound += head_size(f.name, f.type, f.help) + s.routers.size() * (f.name.size() + kValueMax + 1);
  }
  for (const auto& [nasid, record] : s.routers) {
    labels += "{nasid=\"";
    append_nasid_label(labels, nasid);
    labels += "\"} ";
    label_end.push_back(labels.size());
    up.push_back(is_up(record, s, stale_after));
  }
  // The info line's name, address and punctuation, and every line's label.
  bound += s.routers.size() * (kInfo.size() + INET_ADDRSTRLEN + 16) + (1 + std::size(kFamilies)) * labels.size();
  auto label = [&](size_t i) {
    size_t start = i == 0 ? 0 : label_end[i - 1];
    return std::string_view(labels).substr(start, label_end[i] - start);
  };
  // Never more than the bound, so the text never moves: a reader told of it
  // reads it while it grows, and it is never copied into a larger string.
  out.clear();
  out.reserve(bound);
  prefer_huge_pages(out.data(), out.capacity());
  size_t told = 0;
  size_t ready = 0;
  auto step = [&] {
    if (out.size() + kStep > ready) {
      size_t to = std::min(out.capacity(), out.size() + 2 * kStep);
      prefault(out.data() + ready, to - ready);
      ready = to;
    }
    if (grew && out.size() - told >= kStep) {
      told = out.size();
      grew(out.data(), told);
    }
  };
  append_family_head(out, kInfo, "gauge", kInfoHelp);
  for (size_t i = 0; i < s.routers.size(); ++i) {
    step();
    out += kInfo;
    out += label(i).substr(0, label(i).size() - 2);
    out += ",address=\"";
    append_address(out, s.routers[i].second.source);
    out += "\"} 1\n";
  }
  for (const family& f : kFamilies) {
    append_family_head(out, f.name, f.type, f.help);
    for (size_t i = 0; i < s.routers.size(); ++i) {
      if (f.while_up_only && !up[i]) {
        continue;
      }
      step();
      out += f.name;
      out += label(i);
      f.value(out, s.routers[i].second, up[i]);
      out += '\n';
    }
  }
  out += tail;
}

std::string metrics_text(const fleet_snapshot& s, int64_t stale_after, const process_stats& p, const char* version) {
  std::string out;
  metrics_text(out, s, stale_after, p, version, {});
  return out;
}
