#include "collector/exposition.h"

#include <arpa/inet.h>
#include <inttypes.h>
#include <stdio.h>
#include <time.h>

#include <charconv>
#include <vector>

namespace {

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), 0
// when there is none: no overlong forms, surrogates or values past U+10FFFF.
size_t utf8_sequence(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  if (c < 0x80) {
    return 1;
  }
  size_t n;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    lo = c == 0xE0 ? 0xA0 : 0x80;
    hi = c == 0xED ? 0x9F : 0xBF;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    lo = c == 0xF0 ? 0x90 : 0x80;
    hi = c == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (left < n || p[1] < lo || p[1] > hi) {
    return 0;
  }
  for (size_t i = 2; i < n; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;
    }
  }
  return n;
}

std::string address_text(uint32_t source) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &source, text, sizeof text);
  return text;
}

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

// A JSON string; `value` is valid UTF-8 without control characters.
void append_json_string(std::string& out, const std::string& value) {
  out += '"';
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
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

std::string load_text(uint32_t fixed) {
  char text[32];
  snprintf(text, sizeof text, "%.10g", fixed / 65536.0);
  return text;
}

bool is_up(const router_record& r, const fleet_snapshot& s, int64_t stale_after) {
  return s.taken.mono - r.last_seen_mono < stale_after;
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

std::string printable_nasid(const std::string& raw) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  size_t size = raw.size();
  for (size_t i = 0; i < size;) {
    size_t n = utf8_sequence(p + i, size - i);
    if (n == 0 || p[i] < 0x20 || p[i] == 0x7F || p[i] == '\\') {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", p[i]);
      out += hex;
      i += 1;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  return out;
}

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

std::string routers_json(const fleet_snapshot& s, int64_t stale_after) {
  std::string out = "{\"routers\":[";
  bool first = true;
  for (const auto& [nasid, record] : s.routers) {
    out += first ? "{\"nasid\":" : ",{\"nasid\":";
    first = false;
    append_json_string(out, printable_nasid(nasid));
    out += ",\"address\":\"" + address_text(record.source) + "\"";
    out += std::string(",\"up\":") + (is_up(record, s, stale_after) ? "true" : "false");
    out += ",\"first_seen\":" + std::to_string(record.first_seen);
    out += ",\"last_seen\":" + std::to_string(record.last_seen);
    out += ",\"heartbeats\":" + std::to_string(record.heartbeats);
    out += ",\"reboots\":" + std::to_string(record.reboots);
    out += ",\"uptime_seconds\":" + std::to_string(record.uptime);
    out += ",\"load1\":" + load_text(record.load1);
    out += ",\"memory_total_bytes\":" + std::to_string(record.ram_total);
    out += ",\"memory_free_bytes\":" + std::to_string(record.ram_free);
    out += ",\"processes\":" + std::to_string(record.processes) + "}";
  }
  out += "],\"heartbeats\":" + std::to_string(s.accepted) + ",\"refused\":{";
  for (size_t i = 0; i < kRefusalKinds; ++i) {
    out += i ? ",\"" : "\"";
    out += refusal_name(static_cast<refusal>(i));
    out += "\":" + std::to_string(s.refused[i]);
  }
  out += "}}\n";
  return out;
}

namespace {

void append_html_text(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

std::string utc_text(int64_t wall) {
  time_t t = static_cast<time_t>(wall);
  struct tm parts = {};
  char text[32] = "";
  if (gmtime_r(&t, &parts) != nullptr) {
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  }
  return text;
}

std::string duration_text(uint32_t seconds) {
  char text[32];
  uint32_t days = seconds / 86400;
  uint32_t hours = seconds % 86400 / 3600;
  uint32_t minutes = seconds % 3600 / 60;
  if (days > 0) {
    snprintf(text, sizeof text, "%ud %uh", static_cast<unsigned>(days), static_cast<unsigned>(hours));
  } else {
    snprintf(text, sizeof text, "%uh %um", static_cast<unsigned>(hours), static_cast<unsigned>(minutes));
  }
  return text;
}

// One cell: the text shown, and the value the column sorts by.
void append_cell(std::string& out, const std::string& shown, const std::string& key) {
  out += "<td data-k=\"";
  append_html_text(out, key);
  out += "\">";
  append_html_text(out, shown);
  out += "</td>";
}

// Sorting by a column header's click: numbers as numbers, the rest as text;
// a second click reverses.
constexpr const char kPageHead[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Routers</title>
<style>
body{font:14px sans-serif;margin:1em}table{border-collapse:collapse}
th,td{padding:2px 8px;border-bottom:1px solid #ddd;text-align:left}
th{cursor:pointer;background:#eee}tr.down td{background:#fdd}td.n{text-align:right}
</style></head><body>
)";

constexpr const char kPageTail[] = R"(</tbody></table>
<script>
document.querySelectorAll("th").forEach(function (th, col) {
  th.addEventListener("click", function () {
    var body = document.querySelector("tbody");
    var rows = Array.prototype.slice.call(body.rows);
    var dir = th.dataset.dir === "1" ? -1 : 1;
    document.querySelectorAll("th").forEach(function (h) { h.dataset.dir = ""; });
    th.dataset.dir = dir === 1 ? "1" : "-1";
    rows.sort(function (a, b) {
      var x = a.cells[col].dataset.k, y = b.cells[col].dataset.k;
      var nx = parseFloat(x), ny = parseFloat(y);
      var c = isNaN(nx) || isNaN(ny) ? x.localeCompare(y) : nx - ny;
      return c * dir;
    });
    rows.forEach(function (r) { body.appendChild(r); });
  });
});
</script></body></html>
)";

}  // namespace

std::string fleet_page(const fleet_snapshot& s, int64_t stale_after) {
  std::vector<size_t> order;
  order.reserve(s.routers.size());
  size_t down = 0;
  for (size_t i = 0; i < s.routers.size(); ++i) {
    if (!is_up(s.routers[i].second, s, stale_after)) {
      order.push_back(i);
      ++down;
    }
  }
  for (size_t i = 0; i < s.routers.size(); ++i) {
    if (is_up(s.routers[i].second, s, stale_after)) {
      order.push_back(i);
    }
  }
  std::string out = kPageHead;
  out += "<h1>Routers</h1>\n<p>" + std::to_string(s.routers.size()) + " routers, " + std::to_string(down) +
         " down, at " + utc_text(s.taken.wall) + " UTC</p>\n";
  out += "<table><thead><tr><th>NAS identifier</th><th>Address</th><th>State</th><th>Last seen (UTC)</th>"
         "<th>Uptime</th><th>Load</th><th>Free memory</th><th>Reboots</th></tr></thead><tbody>\n";
  for (size_t i : order) {
    const auto& [nasid, r] = s.routers[i];
    bool up = is_up(r, s, stale_after);
    std::string name = printable_nasid(nasid);
    out += up ? "<tr class=\"up\">" : "<tr class=\"down\">";
    append_cell(out, name, name);
    std::string address = address_text(r.source);
    append_cell(out, address, address);
    append_cell(out, up ? "up" : "down", up ? "up" : "down");
    append_cell(out, utc_text(r.last_seen), std::to_string(r.last_seen));
    append_cell(out, up ? duration_text(r.uptime) : "", up ? std::to_string(r.uptime) : "-1");
    char load[32];
    snprintf(load, sizeof load, "%.2f", r.load1 / 65536.0);
    append_cell(out, up ? load : "", up ? load_text(r.load1) : "-1");
    char mib[32];
    snprintf(mib, sizeof mib, "%.1f MiB", r.ram_free / 1048576.0);
    append_cell(out, up ? mib : "", up ? std::to_string(r.ram_free) : "-1");
    append_cell(out, std::to_string(r.reboots), std::to_string(r.reboots));
    out += "</tr>\n";
  }
  out += kPageTail;
  return out;
}
