#include "support/case_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

// The quoted piece at line[*at]: its bytes, with *at past the closing quote.
std::string unquote(const std::string& line, std::size_t* at) {
  constexpr std::string_view kEscapes("n\nr\rt\t0\0", 8);  // each letter, then its byte
  std::string out;
  for (++*at; *at < line.size() && line[*at] != '"'; ++*at) {
    const bool escaped = line[*at] == '\\';
    char c = line[*at += escaped];
    const std::size_t e = kEscapes.find(c);
    if (escaped && c == 'x') {
      c = static_cast<char>(std::stoi(line.substr(*at + 1, 2), nullptr, 16));
      *at += 2;
    } else if (escaped && e != std::string_view::npos && e % 2 == 0) {
      c = kEscapes[e + 1];
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
    if ((in_comment = comment) || at == std::string::npos) continue;
    CaseRow row{name + ":" + std::to_string(number) + " " + heading, {}};
    for (; at < line.size(); at = std::min(line.find_first_not_of(" \t", at), line.size())) {
      if (line[at] != '"') {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        const std::string word = line.substr(at, end - at);
        row.fields.push_back(word == "-" ? std::nullopt : std::optional(word));
        at = end;
        continue;
      }
      std::string text;
      do {  // "piece"*N+"piece"...
        const std::string piece = unquote(line, &at);
        std::size_t times = 1, digits = 0;
        if (at < line.size() && line[at] == '*') times = std::stoul(line.substr(++at), &digits);
        for (at += digits; times > 0; --times) text += piece;
      } while (at < line.size() && line[at] == '+' && ++at);
      row.fields.push_back(text);
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
