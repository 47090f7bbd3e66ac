// The show table: a line per field the port reports, its label and its value for people,
// walking the field rows; a block's fields under its heading, the UDP entries as a table.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli.h"
#include "client/port_fields.h"

namespace {

constexpr int kLabelWidth = 22;
constexpr char kMemoryOnly[] = "  [memory only]";

void line(std::string* out, const std::string& label, const std::string& value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%-*s", kLabelWidth, label.c_str());
  *out += buf + value + "\n";
}

// The UDP entries: a column per field of an entry, headed by its label.
void entry_table(std::string* out, const PortView& v, const std::vector<const Field*>& cells) {
  std::vector<std::vector<std::string>> rows(1, {"entry"});
  std::vector<std::size_t> widths(1, 5);
  for (const Field* f : cells) {
    if (rows.size() <= static_cast<std::size_t>(f->entry))
      rows.push_back({std::to_string(f->entry)});
    if (f->entry == 1) rows[0].push_back(f->row->label);
    rows[f->entry].push_back(field_text(v, *f, true));
  }
  for (const auto& r : rows)
    for (std::size_t c = 0; c < r.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], r[c].size());
    }
  for (const auto& r : rows) {
    std::string text = " ";
    for (std::size_t c = 0; c < r.size(); ++c)
      text += " " + r[c] + std::string(widths[c] - r[c].size() + 1, ' ');
    *out += text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
  }
}

}  // namespace

std::string show_table(const PortView& v) {
  std::string out;
  line(&out, "Port", "COM" + std::to_string(v.port));
  std::vector<const Field*> entries;
  int heading = -1;
  bool net_noted = false;
  for (const Field& f : port_fields()) {
    const GroupRow& g = kGroupRows[f.row->group];
    if (!field_shown(v, f)) {
      // The unit tells its stored addresses only to a session that came in on its eth0.
      if (g.part == kReadNet && !net_noted)
        line(&out, "Stored addresses", "shown only to a session that arrives on the unit's eth0");
      net_noted = net_noted || g.part == kReadNet;
      continue;
    }
    if (f.entry > 0) {
      entries.push_back(&f);
      continue;
    }
    if (!entries.empty()) entry_table(&out, v, entries), entries.clear();
    if (g.heading && heading != f.row->group) out += std::string(g.heading) + "\n";
    heading = f.row->group;
    line(&out, f.row->label,
         field_text(v, f, true) + (g.part == kReadMemoryOnly ? kMemoryOnly : ""));
  }
  out += "[memory only]: kept by the unit until its next get-all, which this show ran\n";
  return out;
}
