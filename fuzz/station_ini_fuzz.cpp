// Writes arbitrary bytes as station.ini and runs every reader of the key table on them, for
// both ports and for ports outside 1..2, each into a buffer of exactly its output's size (the
// sanitizer sees any byte beyond): texts end within their size, delimiter counts stay 0..2.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/root.h"
#include "storage/station_ini.h"

namespace {

template <typename Read>
std::vector<unsigned char> read_into(std::size_t size, Read read) {
  std::vector<unsigned char> out(size);
  read(out.data());
  return out;
}

void run_readers() {
  for (int port = 0; port <= 3; ++port) {
#define INI_PORT_DECIMAL(key, section_format) get_##key(port);
#define INI_PORT_WORD(key, section_format, table) get_##key(port);
#define INI_PORT_HEX(key, section_format) get_##key(port);
#define INI_PORT_QUAD(key, section_format) \
  read_into(4, [&](unsigned char* b) { get_##key(port, b); });
#define INI_PORT_DELIMS(key, section_format)                                              \
  if (read_into(kDelimiterSetSize, [&](unsigned char* b) { get_##key(port, b); })[0] > 2) \
    std::abort();
#define INI_UDP_QUAD(name, section_format, key_format) \
  for (int k = 1; k <= 8; ++k) read_into(4, [&](unsigned char* b) { get_##name(port, b, k); });
#define INI_UDP_DECIMAL(name, section_format, key_format) \
  for (int k = 1; k <= 8; ++k) get_##name(port, k);
#include "storage/station_ini_keys.def"
  }
#define INI_DECIMAL(name, section, key) get_##name();
#define INI_BYTE(name, section, key) \
  if (get_##name() > 255) std::abort();
#define INI_WORD(name, section, key, table, to_code) get_##name();
#define INI_QUAD(name, section, key) read_into(4, [](unsigned char* b) { get_##name(b); });
#define INI_TEXT(name, section, key, size)                                                  \
  if (!std::memchr(                                                                         \
          read_into(size, [](unsigned char* b) { get_##name(reinterpret_cast<char*>(b)); }) \
              .data(),                                                                      \
          0, size))                                                                         \
    std::abort();
#define INI_SMTP_TEXT(name, section, key, size) \
  read_into(size, [](unsigned char* b) { get_##name(reinterpret_cast<char*>(b)); });
#define INI_FLAGS(name, section, key_format, count, out_of_range) \
  for (int i = -1; i <= (count); ++i) get_##name(i);
#include "storage/station_ini_keys.def"
}

char g_root[] = "/tmp/station_ini_fuzz.XXXXXX";

void remove_root() {
  std::remove((std::string(g_root) + kStationIniPath).c_str());
  for (const char* dir : {"/mnt/jffs2", "/mnt", ""}) rmdir((std::string(g_root) + dir).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!mkdtemp(g_root)) std::abort();
  for (const char* dir : {"/mnt", "/mnt/jffs2"}) mkdir((std::string(g_root) + dir).c_str(), 0755);
  std::atexit(remove_root);
  return set_root(g_root);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 16384) return 0;
  std::FILE* file = std::fopen((std::string(g_root) + kStationIniPath).c_str(), "wb");
  if (!file || std::fwrite(bytes, 1, size, file) != size) std::abort();
  std::fclose(file);
  run_readers();
  return 0;
}
