// Arbitrary bytes as station.ini, read by every reader of the key table for both ports and for
// ports outside 1..2, each into a buffer of exactly its output's size (the sanitizer sees any
// byte beyond): texts end within their size, delimiter counts stay 0..2, bytes stay bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/root.h"
#include "storage/station_ini.h"

namespace {

char g_root[] = "/tmp/station_ini_fuzz.XXXXXX";

void require(bool condition) {
  if (!condition) std::abort();
}

template <int size>
void read_text(void (*get)(char*), bool terminated) {
  char text[size];
  get(text);
  require(!terminated || std::memchr(text, 0, size));
}

void run_readers() {
  unsigned char quad[4], delimiters[kDelimiterSetSize];
  for (int port = 0; port <= 3; ++port) {
#define INI_PORT_DECIMAL(key, section_format) get_##key(port);
#define INI_PORT_WORD(key, section_format, table) get_##key(port);
#define INI_PORT_HEX(key, section_format) get_##key(port);
#define INI_PORT_QUAD(key, section_format) get_##key(port, quad);
#define INI_PORT_DELIMS(key, section_format) \
  get_##key(port, delimiters);               \
  require(delimiters[0] <= 2);
#define INI_UDP_QUAD(name, section_format, key_format) \
  for (int k = 1; k <= 8; ++k) get_##name(port, quad, k);
#define INI_UDP_DECIMAL(name, section_format, key_format) \
  for (int k = 1; k <= 8; ++k) get_##name(port, k);
#include "storage/station_ini_keys.def"
  }
#define INI_DECIMAL(name, section, key) get_##name();
#define INI_BYTE(name, section, key) require(get_##name() <= 255);
#define INI_WORD(name, section, key, table, to_code) get_##name();
#define INI_QUAD(name, section, key) get_##name(quad);
#define INI_TEXT(name, section, key, size) read_text<size>(get_##name, true);
#define INI_SMTP_TEXT(name, section, key, size) read_text<size>(get_##name, false);
#define INI_FLAGS(name, section, key_format, count, out_of_range) \
  for (int i = -1; i <= (count); ++i) get_##name(i);
#include "storage/station_ini_keys.def"
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  require(mkdtemp(g_root) &&
          std::filesystem::create_directories(g_root + std::string("/mnt/jffs2")));
  std::atexit([] { std::filesystem::remove_all(g_root); });
  return set_root(g_root);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 16384) return 0;
  std::FILE* file = std::fopen((g_root + std::string(kStationIniPath)).c_str(), "wb");
  require(file && std::fwrite(bytes, 1, size, file) == size && std::fclose(file) == 0);
  run_readers();
  return 0;
}
