// Case tables: reference data under tests/data, one case per line, read by a test's runner.
// Fields are separated by blanks; blank lines and comment lines ('#') are skipped, and the
// first line of a comment heads the rows below it. A field is a bare word or is made of
// "quoted" pieces with C escapes (\n \r \t \0 \\ \" \xHH) joined by '+', where "piece"*N
// repeats a piece N times. A bare - is no value at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CaseRow {
  std::string where;  // "file:line heading", for failure messages
  std::vector<std::optional<std::string>> fields;
  const std::optional<std::string>& operator[](std::size_t i) const { return fields.at(i); }
  // Field i, or "" for no value.
  std::string text(std::size_t i) const { return fields.at(i).value_or(""); }
};

// The rows of tests/data/NAME of the source tree ($STATION_SOURCE_DIR).
std::vector<CaseRow> read_case_table(const std::string& name);

// text with every `from` replaced by `to`: how a runner fills in a row's placeholders.
std::string replace_all(std::string text, const std::string& from, const std::string& to);
