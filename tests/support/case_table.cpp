#include "support/case_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

// The quoted piece that starts at line[*at]; *at ends up past its closing quote.
std::string unquote(const std::string& line, std::size_t* at) {
  std::string out;
  for (++*at; *at < line.size() && line[*at] != '"'; ++*at) {
    char c = line[*at];
    if (c == '\\') {
      // Each escape letter, then the byte it stands for.
      constexpr std::string_view kEscapes("n\nr\rt\t0\0", 8);
      const std::size_t e = kEscapes.find(c = line[++*at]);
      if (c == 'x') {
        c = static_cast<char>(std::stoi(line.substr(*at + 1, 2), nullptr, 16));
        *at += 2;
      } else if (e != std::string_view::npos && e % 2 == 0) {
        c = kEscapes[e + 1];
      }
    }
    out += c;
  }
  ++*at;
  return out;
}

}  // namespace

std::vector<CaseRow> read_case_table(const std::string& name) {
  const char* source = std::getenv("STATION_SOURCE_DIR");
  std::ifstream in(std::string(source ? source : ".") + "/tests/data/" + name);
  EXPECT_TRUE(in.is_open()) << "no case table " << name;
  std::vector<CaseRow> rows;
  std::string line, heading;
  bool in_comment = false;
  for (int number = 1; std::getline(in, line); ++number) {
    std::size_t at = line.find_first_not_of(" \t");
    const bool comment = at != std::string::npos && line[at] == '#';
    if (comment && !in_comment) heading = line.substr(at);
    in_comment = comment;
    if (at == std::string::npos || comment) continue;
    CaseRow row{name + ":" + std::to_string(number) + " " + heading, {}};
    while (at < line.size()) {
      if (line[at] != '"') {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        const std::string word = line.substr(at, end - at);
        row.fields.push_back(word == "-" ? std::nullopt : std::optional(word));
        at = end;
      } else {
        std::string text;
        for (;;) {
          const std::string piece = unquote(line, &at);
          std::size_t times = 1, digits = 0;
          if (at < line.size() && line[at] == '*') times = std::stoul(line.substr(++at), &digits);
          at += digits;
          while (times-- > 0) text += piece;
          if (at >= line.size() || line[at] != '+') break;
          ++at;
        }
        row.fields.push_back(text);
      }
      at = std::min(line.find_first_not_of(" \t", at), line.size());
    }
    rows.push_back(row);
  }
  return rows;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}
