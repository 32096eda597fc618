#include "collector/metrics_text.h"

#include <stdio.h>

#include <charconv>
#include <utility>
#include <vector>

#include "collector/exposition.h"

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
  const char* name;
  const char* type;
  const char* help;
  bool while_up_only;
  void (*value)(std::string& out, const router_record& r, bool up);
};

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

void append_family_head(std::string& out, const char* name, const char* type, const char* help) {
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

}  // namespace

std::string metrics_text(const fleet_snapshot& s, int64_t stale_after, const process_stats& p, const char* version) {
  // About 750 bytes a router: reserved at once, the text is never copied
  // into a string twice its size as it grows.
  std::string out;
  out.reserve(s.routers.size() * 800 + 8192);
  // The labels of each router once; every family repeats them.
  std::vector<std::string> labels;
  labels.reserve(s.routers.size());
  std::vector<bool> up;
  up.reserve(s.routers.size());
  append_family_head(out, "spotwarden_router_info", "gauge", "The router's address: that of its last heartbeat.");
  for (const auto& [nasid, record] : s.routers) {
    std::string l = "{nasid=\"";
    append_label_value(l, printable_nasid(nasid));
    l += '"';
    out += "spotwarden_router_info";
    out += l;
    out += ",address=\"" + address_text(record.source) + "\"} 1\n";
    l += "} ";
    labels.push_back(std::move(l));
    up.push_back(is_up(record, s, stale_after));
  }
  for (const family& f : kFamilies) {
    append_family_head(out, f.name, f.type, f.help);
    for (size_t i = 0; i < s.routers.size(); ++i) {
      if (f.while_up_only && !up[i]) {
        continue;
      }
      out += f.name;
      out += labels[i];
      f.value(out, s.routers[i].second, up[i]);
      out += '\n';
    }
  }
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
  return out;
}
