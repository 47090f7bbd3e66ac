// The station.ini accessors: a few routines per value form, and the key table expanded into
// the set_/get_ pairs that call them. Each pair only names its section, key and form.
#include "storage/station_ini.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/root.h"
#include "storage/inifile.h"

// Every accessor defined here must match a declaration of station_ini.h; a signature that
// drifts from the header becomes an undeclared function and stops the build.
#if defined(__clang__)
#pragma clang diagnostic error "-Wmissing-prototypes"
#else
#pragma GCC diagnostic error "-Wmissing-declarations"
#endif

namespace {

struct IniWord {
  int code;
  const char* word;
};

#define INI_WORDS(table, ...) constexpr IniWord table[] = {__VA_ARGS__};
#include "storage/station_ini_keys.def"

// Words, addresses, hex bytes and delimiter sets are read into 32 bytes: at most 31 count.
constexpr int kShortTextSize = 32;
// The largest text key (receiver).
constexpr int kLongestTextSize = 128;

// A formatted section or key name: "+COM2", "com_udp8_des_be_ip", "emailAlert4".
struct Name {
  char text[48];
};

Name numbered(const char* format, int number) {
  Name name;
  std::snprintf(name.text, sizeof name.text, format, number);
  return name;
}

// The section of a port key. Ports outside 1..2 never reach the file.
struct PortSection {
  bool ok;
  Name name;
  PortSection(const char* format, int port) : ok(port >= 1 && port <= 2), name() {
    if (ok) name = numbered(format, port);
  }
  const char* text() const { return name.text; }
};

int write_value(const char* section, const char* key, const char* value) {
  return write_profile_string(section, key, value, rooted(kStationIniPath).c_str());
}

// The text a reader of many keys loaded once (hold_station_ini_text); null: read the file.
const char* g_held_text = nullptr;

// Reads into a buffer cleared beforehand, with the empty text as the default.
void read_value(const char* section, const char* key, char* buffer, int size) {
  std::memset(buffer, 0, static_cast<std::size_t>(size));
  if (g_held_text != nullptr)
    read_text_string(section, key, buffer, size, "", g_held_text);
  else
    read_profile_string(section, key, buffer, size, "", rooted(kStationIniPath).c_str());
}

int write_decimal(const char* section, const char* key, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return write_value(section, key, text);
}

int read_decimal(const char* section, const char* key) {
  if (g_held_text != nullptr) return read_text_int(section, key, 0, g_held_text);
  return read_profile_int(section, key, 0, rooted(kStationIniPath).c_str());
}

// A code with no word is not written: the key keeps its stored text.
int write_word(const char* section, const char* key, const IniWord* words, std::size_t count,
               int code) {
  for (std::size_t i = 0; i < count; ++i)
    if (words[i].code == code) return write_value(section, key, words[i].word);
  return 0;
}

int read_word(const char* section, const char* key, const IniWord* words, std::size_t count) {
  char text[kShortTextSize];
  read_value(section, key, text, sizeof text);
  for (std::size_t i = 0; i < count; ++i)
    if (std::strcmp(text, words[i].word) == 0) return words[i].code;
  return 0;
}

// log_type keeps two bits of its flag word: bit 0 (logging on) and bit 15 (ASCII).
int log_type_code(int flags) {
  if ((flags & 0x0001) == 0) return 0;
  return (flags & 0x8000) ? 0x8001 : 0x0001;
}

// Unlike the other word keys, log_com writes an unknown code, as "0".
int log_com_code(int code) { return code >= 1 && code <= 3 ? code : 0; }

int write_quad(const char* section, const char* key, const unsigned char* ip) {
  char text[kShortTextSize];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  return write_value(section, key, text);
}

void clear_bytes(unsigned char* bytes, int size) {
  std::memset(bytes, 0, static_cast<std::size_t>(size));
}

// Each number keeps its low 8 bits (300 reads as 44); a part the text does not give is 0.
void read_quad(const char* section, const char* key, unsigned char* ip) {
  char text[kShortTextSize];
  read_value(section, key, text, sizeof text);
  int part[kIniAddressSize] = {0, 0, 0, 0};
  std::sscanf(text, "%d.%d.%d.%d", &part[0], &part[1], &part[2], &part[3]);
  for (int i = 0; i < kIniAddressSize; ++i) ip[i] = static_cast<unsigned char>(part[i] & 0xFF);
}

int write_hex(const char* section, const char* key, const unsigned char* value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", *value);
  return write_value(section, key, text);
}

// strtol's long is 32 bits on the device; clamping keeps a PC's result the same.
int parse_hex(const char* text) {
  const long value = std::strtol(text, nullptr, 16);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int read_hex(const char* section, const char* key) {
  char text[kShortTextSize];
  read_value(section, key, text, sizeof text);
  return parse_hex(text);
}

int write_delimiters(const char* section, const char* key, const unsigned char* set) {
  char text[8] = "";
  switch (set[kDelimiterCount]) {
    case 0:
      break;  // the key stays present with an empty value
    case 1:
      std::snprintf(text, sizeof text, "0x%02x", set[kDelimiterFirst]);
      break;
    case 2:
      std::snprintf(text, sizeof text, "0x%02x%02x", set[kDelimiterFirst],
                    set[kDelimiterSecond]);
      break;
    default:
      return 0;
  }
  return write_value(section, key, text);
}

// Only the length tells the forms apart: 4 characters one delimiter ("0x0d"), 6 two
// ("0x0d0a"); anything else, "0xd" included, none.
void read_delimiters(const char* section, const char* key, unsigned char* set) {
  char text[kShortTextSize];
  read_value(section, key, text, sizeof text);
  clear_bytes(set, kDelimiterSetSize);
  const std::size_t length = std::strlen(text);
  if (length == 4) {
    set[kDelimiterCount] = 1;
    set[kDelimiterFirst] = static_cast<unsigned char>(parse_hex(text) & 0xFF);
  } else if (length == 6) {
    char first[5];
    std::memcpy(first, text, 4);
    first[4] = '\0';
    set[kDelimiterCount] = 2;
    set[kDelimiterFirst] = static_cast<unsigned char>(parse_hex(first) & 0xFF);
    set[kDelimiterSecond] = static_cast<unsigned char>(parse_hex(text + 4) & 0xFF);
  }
}

// A text longer than the key allows is cut to size - 1 bytes.
int write_text(const char* section, const char* key, const char* text, int size) {
  char cut[kLongestTextSize];
  const std::size_t length = strnlen(text, static_cast<std::size_t>(size - 1));
  std::memcpy(cut, text, length);
  cut[length] = '\0';
  return write_value(section, key, cut);
}

void read_text(const char* section, const char* key, char* out, int size) {
  char text[kLongestTextSize];
  read_value(section, key, text, size);
  std::memcpy(out, text, std::strlen(text) + 1);
}

// The mail program gets plain bytes only: every byte above 0x80 becomes 0, which cuts the
// text there, and the caller always receives the whole size-byte field.
void read_smtp_text(const char* section, const char* key, char* out, int size) {
  char text[kLongestTextSize];
  read_value(section, key, text, size);
  for (int i = 0; i < size; ++i)
    out[i] = static_cast<unsigned char>(text[i]) > 0x80 ? '\0' : text[i];
}

// One rewrite of the file per flag, flags stored as 0..15.
int write_flags(const char* section, const char* key_format, const unsigned char* flags,
                int count) {
  int all_written = 1;
  for (int i = 0; i < count; ++i) {
    const Name key = numbered(key_format, i);
    if (!write_decimal(section, key.text, flags[i] & 15)) all_written = 0;
  }
  return all_written;
}

int read_flag(const char* section, const char* key_format, int count, int out_of_range, int i) {
  if (i < 0 || i >= count) return out_of_range;
  return read_decimal(section, numbered(key_format, i).text);
}

}  // namespace

void hold_station_ini_text(const char* text) { g_held_text = text; }

#define INI_PORT_DECIMAL(key, section_format)                                \
  int set_##key(int port, int value) {                                       \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_decimal(s.text(), #key, value) : 0;                  \
  }                                                                          \
  int get_##key(int port) {                                                  \
    const PortSection s(section_format, port);                               \
    return s.ok ? read_decimal(s.text(), #key) : 0;                          \
  }
#define INI_PORT_WORD(key, section_format, table)                            \
  int set_##key(int port, int code) {                                        \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_word(s.text(), #key, table, std::size(table), code) : 0; \
  }                                                                          \
  int get_##key(int port) {                                                  \
    const PortSection s(section_format, port);                               \
    return s.ok ? read_word(s.text(), #key, table, std::size(table)) : 0;    \
  }
#define INI_PORT_QUAD(key, section_format)                                   \
  int set_##key(int port, const unsigned char* ip) {                         \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_quad(s.text(), #key, ip) : 0;                        \
  }                                                                          \
  void get_##key(int port, unsigned char* ip) {                              \
    const PortSection s(section_format, port);                               \
    if (s.ok) read_quad(s.text(), #key, ip);                                 \
    else clear_bytes(ip, kIniAddressSize);                                   \
  }
#define INI_PORT_HEX(key, section_format)                                    \
  int set_##key(int port, const unsigned char* value) {                      \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_hex(s.text(), #key, value) : 0;                      \
  }                                                                          \
  int get_##key(int port) {                                                  \
    const PortSection s(section_format, port);                               \
    return s.ok ? read_hex(s.text(), #key) : 0;                              \
  }
#define INI_PORT_DELIMS(key, section_format)                                 \
  int set_##key(int port, const unsigned char* set) {                        \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_delimiters(s.text(), #key, set) : 0;                 \
  }                                                                          \
  void get_##key(int port, unsigned char* set) {                             \
    const PortSection s(section_format, port);                               \
    if (s.ok) read_delimiters(s.text(), #key, set);                          \
    else clear_bytes(set, kDelimiterSetSize);                                \
  }
#define INI_UDP_QUAD(name, section_format, key_format)                       \
  int set_##name(int port, const unsigned char* ip, int k) {                 \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_quad(s.text(), numbered(key_format, k).text, ip) : 0; \
  }                                                                          \
  void get_##name(int port, unsigned char* ip, int k) {                      \
    const PortSection s(section_format, port);                               \
    if (s.ok) read_quad(s.text(), numbered(key_format, k).text, ip);         \
    else clear_bytes(ip, kIniAddressSize);                                   \
  }
#define INI_UDP_DECIMAL(name, section_format, key_format)                    \
  int set_##name(int port, int value, int k) {                               \
    const PortSection s(section_format, port);                               \
    return s.ok ? write_decimal(s.text(), numbered(key_format, k).text, value) : 0; \
  }                                                                          \
  int get_##name(int port, int k) {                                          \
    const PortSection s(section_format, port);                               \
    return s.ok ? read_decimal(s.text(), numbered(key_format, k).text) : 0;  \
  }
#define INI_DECIMAL(name, section, key)                                      \
  int set_##name(int value) { return write_decimal(section, key, value); }   \
  int get_##name() { return read_decimal(section, key); }
#define INI_BYTE(name, section, key)                                         \
  int set_##name(int value) { return write_decimal(section, key, value); }   \
  int get_##name() { return read_decimal(section, key) & 0xFF; }
#define INI_WORD(name, section, key, table, to_code)                         \
  int set_##name(int value) {                                                \
    return write_word(section, key, table, std::size(table), to_code(value)); \
  }                                                                          \
  int get_##name() { return read_word(section, key, table, std::size(table)); }
#define INI_QUAD(name, section, key)                                         \
  int set_##name(const unsigned char* ip) { return write_quad(section, key, ip); } \
  void get_##name(unsigned char* ip) { read_quad(section, key, ip); }
#define INI_TEXT(name, section, key, size)                                   \
  static_assert(size <= kLongestTextSize);                                   \
  int set_##name(const char* text) { return write_text(section, key, text, size); } \
  void get_##name(char* out) { read_text(section, key, out, size); }
#define INI_SMTP_TEXT(name, section, key, size)                              \
  static_assert(size <= kLongestTextSize);                                   \
  int set_##name(const char* text) { return write_text(section, key, text, size); } \
  void get_##name(char* out) { read_smtp_text(section, key, out, size); }
#define INI_FLAGS(name, section, key_format, count, out_of_range)            \
  int set_##name(const unsigned char* flags) {                               \
    return write_flags(section, key_format, flags, count);                   \
  }                                                                          \
  int get_##name(int i) { return read_flag(section, key_format, count, out_of_range, i); }
#include "storage/station_ini_keys.def"
