// The protocol's facts that the help tells, from its description: the baud rates and the
// command codes.
#include <cstdio>
#include <string>

#include "cli.h"
#include "protocol/command_table.h"

std::string baud_rates_text() {
  std::string text = "one of";
  for (uint32_t rate : kBaudRates) text += " " + std::to_string(rate);
  return text;
}

std::string code_list() {
  static const unsigned char zeros[kReceiveBufferSize] = {};
  std::string out;
  int column = 0;
  for (const CommandRow& row : kCommandRows) {
    if (row.route == ChangeRoute::kNotServed) continue;
    int length = 0;
    while (length < kReceiveBufferSize && !request_length_ok(row, zeros, length)) ++length;
    char cell[32];
    std::snprintf(cell, sizeof cell, "  %3d %-15s %2d", row.code, row.name,
                  reply_frames(row.code, zeros, length));
    out += cell;
    out += ++column % 3 == 0 ? "\n" : "  ";
  }
  return column % 3 == 0 ? out : out.substr(0, out.size() - 2) + "\n";
}
