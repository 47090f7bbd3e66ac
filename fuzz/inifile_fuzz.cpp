// INI reads and writes on a real station.ini, then (flags 0x1X) its typed readers for ports 0..3.
// Input: flags (0x8N pads the text to 65,535 - N bytes, 0xCN to 65,536 + N, 0x2X removes the
// file), then fields split at 0x01: the text, then per operation "op + section", key, value ('w'
// write, 'i' number read, else a string read of size value[0] % 64 + 1, default the rest).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/root.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"

namespace {

char g_dir[] = "/tmp/inifile_fuzz.XXXXXX";
std::string g_path;

void check(bool ok) {
  if (!ok) std::abort();
}
const char* or_default(const char* text, const char* otherwise) { return *text ? text : otherwise; }
template <int size>
void read_text(void (*get)(char*), bool terminated) {
  char text[size];
  get(text);
  check(!terminated || std::memchr(text, 0, size));
}

// The readers whose output depends on more than read_profile_int (the 'i' operation): texts end
// within their size, delimiter counts stay 0..2.
void run_typed_readers() {
  unsigned char quad[4], delimiters[kDelimiterSetSize];
  for (int port = 0; port <= 3; ++port) {
#define INI_PORT_WORD(key, f, table) get_##key(port);
#define INI_PORT_HEX(key, f) get_##key(port);
#define INI_PORT_QUAD(key, f) get_##key(port, quad);
#define INI_PORT_DELIMS(key, f) get_##key(port, delimiters), check(delimiters[0] <= 2);
#define INI_UDP_QUAD(name, f, g) \
  for (int k = 1; k <= 8; ++k) get_##name(port, quad, k);
#include "storage/station_ini_keys.def"
  }
#define INI_WORD(name, section, key, table, to_code) get_##name();
#define INI_QUAD(name, section, key) get_##name(quad);
#define INI_TEXT(name, section, key, size) read_text<size>(get_##name, true);
#define INI_SMTP_TEXT(name, section, key, size) read_text<size>(get_##name, false);
#include "storage/station_ini_keys.def"
}

std::string file_text() {
  std::ifstream in(g_path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  check(mkdtemp(g_dir) && std::filesystem::create_directories(g_dir + std::string("/mnt/jffs2")));
  g_path = g_dir + std::string(kStationIniPath);
  std::atexit([] { std::filesystem::remove_all(g_dir); });
  return set_root(g_dir);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8192) return 0;
  std::vector<std::string> f(1);
  for (size_t i = 1; i < size; ++i) data[i] == 1 ? f.emplace_back() : f.back() += char(data[i]);
  std::string& text = f[0];
  const unsigned mode = data[0] >> 4;
  if (mode == 0x8 || mode == 0xC) {
    const size_t target = mode == 0x8 ? 65535 - (data[0] & 0xFu) : 65536 + (data[0] & 0xFu);
    for (text += text.empty() ? "x" : ""; text.size() < target;) text += text;
    text.resize(target);
  }
  unlink(g_path.c_str());
  if (mode != 0x2) std::ofstream(g_path, std::ios::binary) << text;
  f.resize(1 + 3 * std::min<size_t>(6, (f.size() + 1) / 3));  // at most 6 operations
  for (size_t i = 1; i < f.size(); i += 3) {
    // Sections and keys are never empty (a caller obligation); a NUL ends them as in C.
    const char* section = or_default(f[i].empty() ? "" : f[i].c_str() + 1, "S");
    const char *key = or_default(f[i + 1].c_str(), "K"), *value = f[i + 2].c_str();
    if (f[i][0] == 'w') {
      // Refused, the file stays byte for byte; written, it was loadable and stays in the limit.
      const std::string before = file_text();
      check(write_profile_string(section, key, value, g_path.c_str()) != 1
                ? file_text() == before
                : file_text().size() <= 65535 && before.size() < 65536 &&
                      !std::memchr(before.data(), 0, before.size()));
    } else if (f[i][0] == 'i') {
      (void)read_profile_int(section, key, 7, g_path.c_str());
    } else {  // exactly the size asked for: the sanitizer sees any byte written beyond it
      std::vector<char> buffer(1 + static_cast<unsigned char>(f[i + 2][0]) % 64);
      if (read_profile_string(section, key, buffer.data(), int(buffer.size()),
                              f[i + 2].size() > 1 ? value + 1 : nullptr, g_path.c_str()) == 1)
        check(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr);
    }
  }
  if (mode == 0x1) run_typed_readers();
  return 0;
}
