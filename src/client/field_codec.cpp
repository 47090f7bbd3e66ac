#include "client/field_codec.h"

#include <cstdio>

namespace {

// A delimiter set holds its count, at most this many delimiter bytes, and a zero byte.
constexpr int kDelimiterChars = 2;

bool parse_ipv4(const std::string& text, unsigned char* address) {
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (pos >= text.size() || text[pos++] != '.')) return false;
    unsigned value = 0;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
      value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    if (pos == start || value > 255) return false;
    address[i] = static_cast<unsigned char>(value);
  }
  return pos == text.size();
}

// Switches: 0 or 1, or the words people use for them; any other byte as a number.
bool parse_switch(const std::string& text, uint32_t* value) {
  if (text == "on" || text == "yes" || text == "true") return (*value = 1), true;
  if (text == "off" || text == "no" || text == "false") return (*value = 0), true;
  return parse_number(text, 255, value);
}

// Whether a coded value may be set: of the link modes, only those whose layout the unit
// reports, so that the client can send it whole.
bool settable(const FieldRow& row, const ValueRow& v) {
  return row.codec != Codec::kLinkMode || link_reply_length(v.wire) > 0;
}

std::string names_of(const FieldRow& row) {
  std::vector<std::string> names;
  for (int i = 0; i < row.values->count; ++i)
    if (settable(row, row.values->rows[i])) names.push_back(row.values->rows[i].name);
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return out;
}

}  // namespace

int field_width(const FieldRow& row) {
  if (row.codec == Codec::kBaud) return static_cast<int>(sizeof kBaudRates[0]);
  return row.codec == Codec::kText ? 1 : form_width(row.at.form);
}

bool parse_field(const FieldRow& row, int entry, const std::string& text,
                 std::vector<unsigned char>* block, int base, std::string* why) {
  why->clear();
  if (row.codec == Codec::kText) {
    if (text.size() > name_password::kTextMax || text.find('\0') != std::string::npos) {
      *why = "not a text of at most " + std::to_string(name_password::kTextMax) + " characters";
      return false;
    }
    block->assign(text.begin(), text.end());
    block->push_back(0);
    return true;
  }
  const std::size_t end = static_cast<std::size_t>(base + row.at.offset + field_width(row));
  if (block->size() < end) block->resize(end, 0);
  unsigned char* b = block->data() + base;
  unsigned char* p = field_at(b, row.at);
  uint32_t n = 0;
  if (row.values) {
    for (int i = 0; i < row.values->count; ++i)
      if (text == row.values->rows[i].name && settable(row, row.values->rows[i]))
        return put_field(b, row.at, static_cast<uint32_t>(row.values->rows[i].wire)), true;
    *why = "not one of " + names_of(row);
    return false;
  }
  if (row.codec == Codec::kBaud) {
    if (parse_number(text, UINT32_MAX, &n))
      for (uint32_t rate : kBaudRates)
        if (rate == n) return put_be32(n, p), true;
    *why = "not a rate the unit supports:";
    for (uint32_t rate : kBaudRates) *why += " " + std::to_string(rate);
    return false;
  }
  if (row.at.form == FieldForm::kIpv4) {
    if (!parse_ipv4(text, p)) *why = "not an IPv4 address such as 10.0.0.1";
    return why->empty();
  }
  if (row.at.form == FieldForm::kDelimiterSet) {
    std::vector<unsigned char> chars;
    std::string digits = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
    if (digits == "none") digits.clear();
    if (!parse_hex(digits, &chars) || chars.size() > kDelimiterChars) {
      *why = "not none, one or two bytes in hex, such as 0d0a";
      return false;
    }
    p[0] = static_cast<unsigned char>(chars.size());
    chars.resize(form_width(row.at.form) - 1, 0);  // the delimiter bytes and the zero byte
    for (std::size_t i = 0; i < chars.size(); ++i) p[1 + i] = chars[i];
    return true;
  }
  if (row.codec == Codec::kSwitch || row.codec == Codec::kEntrySwitch) {
    if (!parse_switch(text, &n))
      *why = "not 0 or 1 (off or on)";
    else if (row.codec == Codec::kEntrySwitch && entry == 1 && n != 1)
      *why = "refused: entry 1 is always enabled";
  } else {
    const uint32_t high = row.high ? row.high : UINT32_MAX >> (32 - 8 * field_width(row));
    if (!parse_number(text, high, &n) || n < row.low)
      *why = "not a number from " + std::to_string(row.low) + " to " + std::to_string(high);
  }
  if (why->empty()) put_field(b, row.at, n);
  return why->empty();
}

std::string format_field(const FieldRow& row, const std::vector<unsigned char>& block, int base,
                         bool for_people) {
  const std::size_t at = static_cast<std::size_t>(base + row.at.offset);
  if (block.size() < at + field_width(row)) return "";
  const unsigned char* b = block.data() + base;
  const unsigned char* p = field_at(b, row.at);
  if (row.codec == Codec::kText) {
    std::string text;
    for (std::size_t i = at; i < block.size() && block[i] != 0; ++i)
      text.push_back(static_cast<char>(block[i]));
    return for_people ? "\"" + text + "\"" : text;
  }
  if (row.codec == Codec::kBaud) return std::to_string(get_be32(p));
  if (row.at.form == FieldForm::kIpv4) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return text;
  }
  if (row.at.form == FieldForm::kDelimiterSet) {
    const std::size_t count = p[0] < kDelimiterChars ? p[0] : kDelimiterChars;
    if (for_people && count == 0) return "none";
    return hex_bytes(p + 1, count, for_people ? " " : "");
  }
  const uint32_t n = get_field(b, row.at);
  if (row.values) {
    const ValueRow* v = row_of_wire(*row.values, static_cast<int>(n));
    if (v) return for_people ? v->label : v->name;
    return for_people ? "unknown (" + std::to_string(n) + ")" : std::to_string(n);
  }
  const bool is_switch = row.codec == Codec::kSwitch || row.codec == Codec::kEntrySwitch;
  if (for_people && is_switch && n <= 1) return n ? "on" : "off";
  return std::to_string(n);
}

bool json_string(const FieldRow& row, const std::string& text) {
  if (row.codec == Codec::kText || row.at.form == FieldForm::kIpv4 ||
      row.at.form == FieldForm::kDelimiterSet)
    return true;
  // A coded value prints its name; a name that is a number ("1" stop bit) stays a number.
  return row.values && text.find_first_not_of("0123456789") != std::string::npos;
}

std::string hex_bytes(const unsigned char* bytes, std::size_t count, const char* separator) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += (i > 0 ? separator : "") + std::string(two);
  }
  return out;
}

bool parse_hex(const std::string& text, std::vector<unsigned char>* bytes) {
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ':') digits.push_back(c);
  if (digits.size() % 2 != 0) return false;
  const auto nibble = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  bytes->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = nibble(digits[i]), lo = nibble(digits[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}
