// How one setting reads, prints and lies in its group's bytes: the row that describes a field
// and the few codecs its value goes through (by FieldForm, by value table, as a switch, a
// baud rate or a text). Owns the checks a value meets on its own before anything is sent;
// hides byte order and the spelling of numbers, addresses and delimiter bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "protocol/wire_format.h"

enum class Codec {
  kForm,         // as the LayoutField's form: a number, an IPv4 address, a delimiter set
  kSwitch,       // a byte read as off (0) or on (1); other numbers kept as they are
  kEntrySwitch,  // a UDP entry's switch: entry 1 is always in use
  kValue,        // a byte coded by the row's value table: its name, its label for people
  kLinkMode,     // the same, limited to the modes whose layout the client can send
  kBaud,         // a big-endian 32-bit rate, one of kBaudRates
  kText,         // a text and its NUL, at most name_password::kTextMax characters
};

struct FieldRow {
  const char* prefix;  // the path up to the name: "serial.", "link.entries[]." (every UDP entry)
  LayoutField at;      // its name (the last word of the path), place and form in the group
  int group;           // group::Id
  const char* label;   // for people
  Codec codec = Codec::kForm;
  const ValueTable* values = nullptr;
  uint32_t low = 0, high = 0;  // the numbers the unit takes, when narrower than the form's
};

// Parses text into the field's place: block bytes + base (base: the UDP entry's start). false
// with the reason for the person who typed it ("not 1 or 2 stop bits").
bool parse_field(const FieldRow& row, int entry, const std::string& text,
                 std::vector<unsigned char>* block, int base, std::string* why);
// The value as show --json and the edits spell it, or for people; "" when the block is short.
std::string format_field(const FieldRow& row, const std::vector<unsigned char>& block, int base,
                         bool for_people);
// The bytes a value takes in its group (at least one, a text's NUL).
int field_width(const FieldRow& row);
// Whether JSON writes the value as a string rather than a number.
bool json_string(const FieldRow& row, const std::string& text);

std::string hex_bytes(const unsigned char* bytes, std::size_t count, const char* separator);
// Pairs of hex digits, spaces and colons between them allowed; false on anything else.
bool parse_hex(const std::string& text, std::vector<unsigned char>* bytes);
