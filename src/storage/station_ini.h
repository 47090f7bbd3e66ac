// The station.ini schema: one writer set_KEY and one reader get_KEY per key of
// /mnt/jffs2/station.ini (sections COM%d, +COM%d, NTP, SNMP, SMTP, SYSLOG, COMLOG), and the
// text form of each value. Each call is exactly one read or one rewrite of the file through
// the INI library; nothing is cached. The keys themselves are listed in station_ini_keys.def.
#pragma once

// The file every accessor uses, always passed through rooted(). ADMIN and NETWORK have no
// accessors: the defaults routines write them with write_profile_string on this path.
constexpr char kStationIniPath[] = "/mnt/jffs2/station.ini";

// DelimiterSet, 4 bytes as the port record holds them: byte 0 the count (0, 1 or 2), byte 1
// the first delimiter, byte 2 the second, byte 3 zero. Stored as "" (count 0), "0x0d"
// (count 1) or "0x0d0a" (count 2).
constexpr int kDelimiterSetSize = 4;
constexpr int kDelimiterCount = 0;
constexpr int kDelimiterFirst = 1;
constexpr int kDelimiterSecond = 2;

// An IPv4 address: 4 bytes, first octet first, stored as "%d.%d.%d.%d".
constexpr int kIniAddressSize = 4;

// A reader of many keys that must see them all from one state of the file (the forwarder,
// which another process rewrites under it) loads the text once and holds it: until it is
// released with nullptr, every get_ reads the held text and the file is not opened. Writers
// always rewrite the file. The caller keeps the text alive while it is held.
void hold_station_ini_text(const char* text);

// Size N of each text key, terminator included: StationIniSize::sysName is 32.
struct StationIniSize {
#define INI_TEXT(name, section, key, size) static constexpr int name = size;
#define INI_SMTP_TEXT(name, section, key, size) static constexpr int name = size;
#include "storage/station_ini_keys.def"
};

// Signatures by value form. port is 1 or 2 (COM1, COM2); k is the UDP destination 1..8 (not
// checked); i is a flag number. Writers return 1 when the file was rewritten and 0 when
// nothing was written (port outside 1..2, a code with no word, a delimiter count above 2) or
// the rewrite failed; the system's callers ignore it. Readers of a port outside 1..2 return
// the form's empty value and leave the file alone. A missing key reads as the empty value:
// 0, the empty text, zero bytes.
//
// Per-port decimal    int set_KEY(int port, int value);        int get_KEY(int port);
// Per-port word       int set_KEY(int port, int code);         int get_KEY(int port);
//                     a code with no word is not written; a text that equals no word
//                     (case counts) reads as 0
// Per-port address    int set_KEY(int port, const unsigned char* ip);
//                     void get_KEY(int port, unsigned char* ip);
//                     4 bytes; read parts are cut to 8 bits (300 is 44), missing parts are 0
// UDP address         int set_NAME(int port, const unsigned char* ip, int k);
//                     void get_NAME(int port, unsigned char* ip, int k);
// UDP number          int set_NAME(int port, int value, int k); int get_NAME(int port, int k);
// Hex byte            int set_KEY(int port, const unsigned char* value);  one byte, "0x%02x"
//                     int get_KEY(int port);  the whole base-16 number, not cut to 8 bits
// Delimiter set       int set_KEY(int port, const unsigned char* set);
//                     void get_KEY(int port, unsigned char* set);  kDelimiterSetSize bytes
// Device-wide decimal int set_NAME(int value);                 int get_NAME();
// Device-wide address int set_NAME(const unsigned char* ip);   void get_NAME(unsigned char* ip);
// Text                int set_NAME(const char* text);  stores at most N - 1 bytes (cuts)
//                     void get_NAME(char* out);  out holds N bytes; gets the text and its NUL
// SMTP text           int set_NAME(const char* text);  up to its NUL, at most N - 1 bytes
//                     void get_NAME(char* out);  fills exactly N bytes: the text, NUL-padded,
//                     every byte above 0x80 replaced by 0
// smtpAuth            int set_smtpAuth(int value);  int get_smtpAuth();  low 8 bits
// log_type            int set_log_type(int flags);  bit 0 clear "0", bit 0 with bit 15
//                     "ASCII", bit 0 alone "HEX"; int get_log_type(): 0, 0x0001 or 0x8001
// log_com             int set_log_com(int code);  1 "COM1", 2 "COM2", 3 "COM1|COM2", any
//                     other "0"; int get_log_com(): 0..3
// Flag set            int set_trapAlert(const unsigned char* flags);  3 flags, one rewrite
//                     each, stored AND 15; int get_trapAlert(int i): -1 when i is not 0..2
//                     int set_emailAlert(const unsigned char* flags);  5 flags likewise;
//                     int get_emailAlert(int i): 0 when i is not 0..4
//                     A flag counts as on only when it reads 1.

#define INI_PORT_DECIMAL(key, section_format) \
  int set_##key(int port, int value);         \
  int get_##key(int port);
#define INI_PORT_WORD(key, section_format, table) \
  int set_##key(int port, int code);              \
  int get_##key(int port);
#define INI_PORT_QUAD(key, section_format)          \
  int set_##key(int port, const unsigned char* ip); \
  void get_##key(int port, unsigned char* ip);
#define INI_PORT_HEX(key, section_format)              \
  int set_##key(int port, const unsigned char* value); \
  int get_##key(int port);
#define INI_PORT_DELIMS(key, section_format)         \
  int set_##key(int port, const unsigned char* set); \
  void get_##key(int port, unsigned char* set);
#define INI_UDP_QUAD(name, section_format, key_format)      \
  int set_##name(int port, const unsigned char* ip, int k); \
  void get_##name(int port, unsigned char* ip, int k);
#define INI_UDP_DECIMAL(name, section_format, key_format) \
  int set_##name(int port, int value, int k);             \
  int get_##name(int port, int k);
#define INI_DECIMAL(name, section, key) \
  int set_##name(int value);            \
  int get_##name();
#define INI_BYTE(name, section, key) \
  int set_##name(int value);         \
  int get_##name();
#define INI_WORD(name, section, key, table, to_code) \
  int set_##name(int value);                         \
  int get_##name();
#define INI_QUAD(name, section, key)   \
  int set_##name(const unsigned char* ip); \
  void get_##name(unsigned char* ip);
#define INI_TEXT(name, section, key, size) \
  int set_##name(const char* text);        \
  void get_##name(char* out);
#define INI_SMTP_TEXT(name, section, key, size) \
  int set_##name(const char* text);             \
  void get_##name(char* out);
#define INI_FLAGS(name, section, key_format, count, out_of_range) \
  int set_##name(const unsigned char* flags);                     \
  int get_##name(int i);
#include "storage/station_ini_keys.def"
