#include "collector/fleet_page.h"

#include <stdio.h>
#include <time.h>

#include <vector>

#include "collector/exposition.h"

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
