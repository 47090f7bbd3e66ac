// Numbers as people type them on a command line or in a document: the one reader of the
// tools, on the device and on the PC. Whole unsigned numbers only, decimal or hexadecimal
// after 0x; a sign, blanks, octal or anything after the digits makes the text no number.
#pragma once

#include <cstdint>
#include <string_view>

inline bool parse_number(std::string_view text, uint32_t max, uint32_t* value) {
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (const char c : text) {
    const char lower = static_cast<char>(c | 0x20);
    uint32_t digit = base;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    if (base == 16 && lower >= 'a' && lower <= 'f') digit = static_cast<uint32_t>(lower - 'a' + 10);
    if (digit >= base) return false;
    v = v * base + digit;
    if (v > max) return false;  // also keeps v far from overflowing
  }
  *value = static_cast<uint32_t>(v);
  return true;
}
