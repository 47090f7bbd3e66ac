// Reads and writes on a real file whose text comes from the input. A refused write leaves the
// file byte for byte; a rewritten file stays within the text limit and was loadable; a key
// found before a write reads back as the value written (up to its first line end); a read
// stays inside its size and terminates a value. Input: a flags byte (high nibble 8 pads the
// text by repetition to 65,535 - low nibble bytes, C to 65,536 + low nibble, 2 removes the
// file), then fields split at 0x01: the text, then per operation "op letter + section", key,
// value ('w' write, 'i' number read, else a string read of size value[0], default the rest).
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

#include "storage/inifile.h"

namespace {

std::string g_path;

void check(bool ok) {
  if (!ok) std::abort();
}
const char* or_default(const char* text, const char* otherwise) { return *text ? text : otherwise; }
bool file_text(std::string* text) {
  std::ifstream in(g_path, std::ios::binary);
  text->assign(std::istreambuf_iterator<char>(in), {});
  return in.is_open();
}

void run_write(const char* section, const char* key, const char* value) {
  std::string before, after;
  IniPositions at;
  const bool existed = file_text(&before);
  const bool found = existed && parse_file(section, key, before.c_str(), &at) == 1;
  const int result = write_profile_string(section, key, value, g_path.c_str());
  const bool exists = file_text(&after);
  if (result != 1) return check(exists == existed && after == before);
  check(after.size() <= 65535 &&
        (!existed || (before.size() < 65536 && before.find('\0') == std::string::npos)));
  char got[kIniBufferSize];
  check(!found ||
        (read_profile_string(section, key, got, kIniBufferSize, nullptr, g_path.c_str()) == 1 &&
         got == std::string(value, std::strcspn(value, "\r\n"))));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char dir[] = "/tmp/inifile-fuzz-XXXXXX";
  check(mkdtemp(dir) != nullptr);
  g_path = std::string(dir) + "/station.ini";
  return std::atexit([] { std::filesystem::remove_all(dir); });
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
    const std::string section = or_default(f[i].empty() ? "" : f[i].c_str() + 1, "S");
    const std::string key = or_default(f[i + 1].c_str(), "K"), &value = f[i + 2];
    if (f[i][0] == 'w') {
      run_write(section.c_str(), key.c_str(), value.c_str());
    } else if (f[i][0] == 'i') {
      (void)read_profile_int(section.c_str(), key.c_str(), 7, g_path.c_str());
    } else {  // exactly the size asked for: the sanitizer sees any byte written beyond it
      std::vector<char> buffer(value.empty() ? 1 : 1 + static_cast<unsigned char>(value[0]) % 64);
      if (read_profile_string(section.c_str(), key.c_str(), buffer.data(), int(buffer.size()),
                              value.size() > 1 ? value.c_str() + 1 : nullptr, g_path.c_str()) == 1)
        check(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr);
    }
  }
  return 0;
}
