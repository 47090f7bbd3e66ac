// Case tables under tests/data: one case per line, blank-separated fields; '#' lines are
// comments, the first of a run heading the rows below. A field is a bare word (- : no value)
// or "quoted" pieces with C escapes (\n \r \t \0 \\ \" \xHH) joined by '+', "piece"*N repeated.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CaseRow {
  std::string where;  // "file:line heading", for failure messages
  std::vector<std::optional<std::string>> fields;
  const std::optional<std::string>& operator[](std::size_t i) const { return fields.at(i); }
  std::string text(std::size_t i) const { return fields.at(i).value_or(""); }  // "" for none
};

// The rows of tests/data/NAME of the source tree ($STATION_SOURCE_DIR).
std::vector<CaseRow> read_case_table(const std::string& name);
// text with every `from` replaced by `to`: how a runner fills in a row's placeholders.
std::string replace_all(std::string text, const std::string& from, const std::string& to);
