#include "collector/routers_json.h"

#include "collector/exposition.h"

namespace {

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

}  // namespace

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
