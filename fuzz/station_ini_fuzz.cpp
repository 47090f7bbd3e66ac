// Writes arbitrary bytes as station.ini and runs every reader of the key table on them, for
// both ports and for ports outside 1..2: no reader may write past its output, texts end
// within their size, and every result stays inside what its value form can give.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/root.h"
#include "storage/station_ini.h"

namespace {

struct IniWord {
  int code;
  const char* word;
};
#define INI_WORDS(table, ...) constexpr IniWord table[] = {__VA_ARGS__};
#include "storage/station_ini_keys.def"

template <std::size_t N>
void require_code(const IniWord (&words)[N], int code) {
  if (code == 0) return;
  for (const IniWord& w : words)
    if (w.code == code) return;
  abort();
}

void require(bool condition) {
  if (!condition) abort();
}

constexpr unsigned char kGuard = 0xA5;
constexpr int kGuardSize = 8;

// Bytes from `from` on must still hold the guard the caller filled in.
void require_guard(const unsigned char* bytes, int from, int size) {
  for (int i = from; i < size; ++i) require(bytes[i] == kGuard);
}

bool port_in_range(int port) { return port == 1 || port == 2; }

void require_zero(const unsigned char* bytes, int size) {
  for (int i = 0; i < size; ++i) require(bytes[i] == 0);
}

void check_quad(void (*reader)(unsigned char*)) {
  unsigned char ip[kIniAddressSize + kGuardSize];
  std::memset(ip, kGuard, sizeof ip);
  reader(ip);
  require_guard(ip, kIniAddressSize, sizeof ip);
}

void check_port_quad(int port, void (*reader)(int, unsigned char*)) {
  unsigned char ip[kIniAddressSize + kGuardSize];
  std::memset(ip, kGuard, sizeof ip);
  reader(port, ip);
  require_guard(ip, kIniAddressSize, sizeof ip);
  if (!port_in_range(port)) require_zero(ip, kIniAddressSize);
}

void check_delimiters(int port, void (*reader)(int, unsigned char*)) {
  unsigned char set[kDelimiterSetSize + kGuardSize];
  std::memset(set, kGuard, sizeof set);
  reader(port, set);
  require_guard(set, kDelimiterSetSize, sizeof set);
  require(set[kDelimiterCount] <= 2 && set[3] == 0);
  if (set[kDelimiterCount] < 2) require(set[kDelimiterSecond] == 0);
  if (set[kDelimiterCount] == 0) require(set[kDelimiterFirst] == 0);
  if (!port_in_range(port)) require_zero(set, kDelimiterSetSize);
}

void check_text(void (*reader)(char*), int size) {
  unsigned char out[128 + kGuardSize];
  std::memset(out, kGuard, sizeof out);
  reader(reinterpret_cast<char*>(out));
  const void* end = std::memchr(out, 0, static_cast<std::size_t>(size));
  require(end != nullptr);
  require_guard(out, static_cast<int>(static_cast<const unsigned char*>(end) - out) + 1,
                sizeof out);
}

void check_smtp_text(void (*reader)(char*), int size) {
  unsigned char out[128 + kGuardSize];
  std::memset(out, kGuard, sizeof out);
  reader(reinterpret_cast<char*>(out));
  for (int i = 0; i < size; ++i) require(out[i] <= 0x80);
  require_guard(out, size, sizeof out);
}

char g_root[] = "/tmp/station_ini_fuzz.XXXXXX";
std::string g_ini;

void remove_root() {
  unlink(g_ini.c_str());
  rmdir((std::string(g_root) + "/mnt/jffs2").c_str());
  rmdir((std::string(g_root) + "/mnt").c_str());
  rmdir(g_root);
}

bool prepare_root() {
  if (!mkdtemp(g_root)) return false;
  mkdir((std::string(g_root) + "/mnt").c_str(), 0755);
  mkdir((std::string(g_root) + "/mnt/jffs2").c_str(), 0755);
  g_ini = std::string(g_root) + kStationIniPath;
  atexit(remove_root);
  return set_root(g_root) == 0;
}

void run_readers() {
  for (int port = 0; port <= 3; ++port) {
    const bool in_range = port_in_range(port);
#define INI_PORT_DECIMAL(key, section_format) \
  require(in_range || get_##key(port) == 0);
#define INI_PORT_WORD(key, section_format, table) \
  {                                               \
    const int code = get_##key(port);             \
    require_code(table, code);                    \
    require(in_range || code == 0);               \
  }
#define INI_PORT_QUAD(key, section_format) check_port_quad(port, get_##key);
#define INI_PORT_HEX(key, section_format) require(in_range || get_##key(port) == 0);
#define INI_PORT_DELIMS(key, section_format) check_delimiters(port, get_##key);
#define INI_UDP_QUAD(name, section_format, key_format)  \
  for (int k = 1; k <= 8; ++k) {                        \
    unsigned char ip[kIniAddressSize + kGuardSize];     \
    std::memset(ip, kGuard, sizeof ip);                 \
    get_##name(port, ip, k);                            \
    require_guard(ip, kIniAddressSize, sizeof ip);      \
    if (!in_range) require_zero(ip, kIniAddressSize);   \
  }
#define INI_UDP_DECIMAL(name, section_format, key_format) \
  for (int k = 1; k <= 8; ++k) require(in_range || get_##name(port, k) == 0);
#include "storage/station_ini_keys.def"
  }

#define INI_DECIMAL(name, section, key) get_##name();
#define INI_BYTE(name, section, key) \
  {                                  \
    const int value = get_##name();  \
    require(value >= 0 && value <= 255); \
  }
#define INI_WORD(name, section, key, table, to_code) require_code(table, get_##name());
#define INI_QUAD(name, section, key) check_quad(get_##name);
#define INI_TEXT(name, section, key, size) check_text(get_##name, size);
#define INI_SMTP_TEXT(name, section, key, size) check_smtp_text(get_##name, size);
#define INI_FLAGS(name, section, key_format, count, out_of_range) \
  require(get_##name(-1) == (out_of_range));                      \
  require(get_##name(count) == (out_of_range));                   \
  for (int i = 0; i < (count); ++i) get_##name(i);
#include "storage/station_ini_keys.def"
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static const bool ready = prepare_root();
  if (!ready) abort();
  if (size > 16384) return 0;
  FILE* file = std::fopen(g_ini.c_str(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(bytes, 1, size, file) != size) abort();
  std::fclose(file);
  run_readers();
  return 0;
}
