#include "collector/exposition.h"

#include <arpa/inet.h>
#include <inttypes.h>
#include <stdio.h>

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

std::string number(uint64_t value) { return std::to_string(value); }

std::string load_text(uint32_t fixed) {
  char text[32];
  snprintf(text, sizeof text, "%.10g", fixed / 65536.0);
  return text;
}

struct family {
  const char* name;
  const char* type;
  const char* help;
  std::string (*value)(const router_record& r, bool up);
};

const family kFamilies[] = {
    {"spotwarden_router_up", "gauge", "1 while the router's last heartbeat is younger than --stale-after, else 0.",
     [](const router_record&, bool up) { return number(up ? 1 : 0); }},
    {"spotwarden_router_last_seen_timestamp_seconds", "gauge", "When the router's last heartbeat arrived.",
     [](const router_record& r, bool) { return std::to_string(r.last_seen); }},
    {"spotwarden_router_uptime_seconds", "gauge", "The router's uptime in its last heartbeat.",
     [](const router_record& r, bool) { return number(r.uptime); }},
    {"spotwarden_router_load1", "gauge", "The router's 1-minute load average in its last heartbeat.",
     [](const router_record& r, bool) { return load_text(r.load1); }},
    {"spotwarden_router_memory_total_bytes", "gauge", "The router's total RAM in its last heartbeat.",
     [](const router_record& r, bool) { return number(r.ram_total); }},
    {"spotwarden_router_memory_free_bytes", "gauge", "The router's free RAM in its last heartbeat.",
     [](const router_record& r, bool) { return number(r.ram_free); }},
    {"spotwarden_router_processes", "gauge", "The router's process count in its last heartbeat.",
     [](const router_record& r, bool) { return number(r.processes); }},
    {"spotwarden_router_heartbeats_total", "counter", "Heartbeats received from the router.",
     [](const router_record& r, bool) { return number(r.heartbeats); }},
    {"spotwarden_router_reboots_total", "counter", "Times the router's uptime went backwards.",
     [](const router_record& r, bool) { return number(r.reboots); }},
};

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

std::string metrics_text(const registry& r, int64_t now, int64_t stale_after) {
  // The labels of each router once; every family repeats them.
  std::vector<std::string> labels;
  labels.reserve(r.routers().size());
  for (const auto& [nasid, record] : r.routers()) {
    std::string l = "{nasid=\"";
    append_label_value(l, printable_nasid(nasid));
    l += "\",address=\"" + address_text(record.source) + "\"} ";
    labels.push_back(std::move(l));
  }
  std::string out;
  for (const family& f : kFamilies) {
    out += std::string("# HELP ") + f.name + " " + f.help + "\n# TYPE " + f.name + " " + f.type + "\n";
    size_t i = 0;
    for (const auto& [nasid, record] : r.routers()) {
      out += f.name;
      out += labels[i++];
      out += f.value(record, now - record.last_seen < stale_after);
      out += '\n';
    }
  }
  out += "# HELP spotwarden_heartbeats_rejected_total Datagrams that were not a well-formed heartbeat.\n"
         "# TYPE spotwarden_heartbeats_rejected_total counter\n"
         "spotwarden_heartbeats_rejected_total " + number(r.rejected()) + "\n";
  return out;
}

std::string routers_json(const registry& r, int64_t now, int64_t stale_after) {
  std::string out = "{\"routers\":[";
  bool first = true;
  for (const auto& [nasid, record] : r.routers()) {
    out += first ? "{\"nasid\":" : ",{\"nasid\":";
    first = false;
    append_json_string(out, printable_nasid(nasid));
    out += ",\"address\":\"" + address_text(record.source) + "\"";
    out += std::string(",\"up\":") + (now - record.last_seen < stale_after ? "true" : "false");
    out += ",\"first_seen\":" + std::to_string(record.first_seen);
    out += ",\"last_seen\":" + std::to_string(record.last_seen);
    out += ",\"heartbeats\":" + number(record.heartbeats);
    out += ",\"reboots\":" + number(record.reboots);
    out += ",\"uptime_seconds\":" + number(record.uptime);
    out += ",\"load1\":" + load_text(record.load1);
    out += ",\"memory_total_bytes\":" + number(record.ram_total);
    out += ",\"memory_free_bytes\":" + number(record.ram_free);
    out += ",\"processes\":" + number(record.processes) + "}";
  }
  out += "],\"heartbeats_rejected\":" + number(r.rejected()) + "}\n";
  return out;
}
