// Reads and writes on a real file whose text comes from the input, checking what must hold
// whatever the text: a refused write leaves the file byte for byte, a rewritten file stays
// within the text limit and was loadable, a key found before a write reads back as the value
// written (up to its first line end), and a read stays inside its size and terminates a value.
//
// Input: flags byte, then fields separated by 0x01: the file text, then per operation three
// fields: op letter + section, key, value ('w' write, 'i' a number read, otherwise a string
// read whose size is the value's first byte and whose default is the rest). The flags' high nibble
// 8 pads the text by repetition to 65,535
// - (low nibble) bytes, C to 65,536 + (low nibble), 2 removes the file instead.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/inifile.h"

namespace {

std::string g_dir, g_path;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "inifile_fuzz: %s\n", what);
  std::abort();
}

bool file_text(std::string* text) {
  std::ifstream in(g_path, std::ios::binary);
  text->assign(std::istreambuf_iterator<char>(in), {});
  return in.is_open();
}

void run_write(const char* section, const char* key, const char* value) {
  std::string before, after;
  const bool existed = file_text(&before);
  IniPositions at;
  const bool found = existed && parse_file(section, key, before.c_str(), &at) == 1;
  const int result = write_profile_string(section, key, value, g_path.c_str());
  const bool exists = file_text(&after);
  if (result != 1) return check(exists == existed && after == before, "a refused write changed it");
  check(!existed || (before.size() < 65536 && before.find('\0') == std::string::npos),
        "an unloadable file was rewritten");
  check(after.size() <= 65535, "a write passed the text limit");
  if (!found) return;
  std::vector<char> got(kIniBufferSize);
  check(
      read_profile_string(section, key, got.data(), kIniBufferSize, nullptr, g_path.c_str()) == 1 &&
          std::string(got.data()) == std::string(value, std::strcspn(value, "\r\n")),
      "a replaced value read back wrong");
}

// The buffer has exactly the size asked for: the sanitizer sees any byte written beyond it.
void run_read(const char* section, const char* key, const std::string& value) {
  const std::size_t size = value.empty() ? 1 : 1 + static_cast<unsigned char>(value[0]) % 64;
  std::vector<char> buffer(size, '#');
  const char* def = value.size() > 1 ? value.c_str() + 1 : nullptr;
  if (read_profile_string(section, key, buffer.data(), static_cast<int>(size), def,
                          g_path.c_str()) == 1)
    check(std::memchr(buffer.data(), '\0', size) != nullptr, "a found value is not terminated");
}

void remove_scratch() {
  ::unlink(g_path.c_str());
  ::rmdir(g_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/inifile-fuzz-XXXXXX";
  check(::mkdtemp(tmpl.data()) != nullptr, "mkdtemp failed");
  g_dir = tmpl;
  g_path = g_dir + "/station.ini";
  std::atexit(remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8192) return 0;
  std::vector<std::string> fields(1);
  for (size_t i = 1; i < size; ++i)
    if (data[i] == 0x01)
      fields.emplace_back();
    else
      fields.back().push_back(static_cast<char>(data[i]));
  std::string text = fields[0];
  const unsigned mode = data[0] >> 4;
  if (mode == 0x8 || mode == 0xC) {
    const size_t target = mode == 0x8 ? 65535 - (data[0] & 0xFu) : 65536 + (data[0] & 0xFu);
    if (text.empty()) text = "x";
    while (text.size() < target) text.append(text, 0, std::min(text.size(), target - text.size()));
    text.resize(target);
  }
  ::unlink(g_path.c_str());
  if (mode != 0x2) std::ofstream(g_path, std::ios::binary) << text;

  for (size_t f = 1, ops = 0; f < fields.size() && ops < 6; f += 3, ++ops) {
    // Sections and keys are never empty (a caller obligation); a NUL ends them as in C.
    const std::string& head = fields[f];
    std::string section = head.empty() ? "" : std::string(head.c_str() + 1);
    std::string key = f + 1 < fields.size() ? std::string(fields[f + 1].c_str()) : "";
    const std::string value = f + 2 < fields.size() ? fields[f + 2] : "";
    if (section.empty()) section = "S";
    if (key.empty()) key = "K";
    const char op = head.empty() ? 'r' : head[0];
    if (op == 'w')
      run_write(section.c_str(), key.c_str(), value.c_str());
    else if (op == 'i')
      (void)read_profile_int(section.c_str(), key.c_str(), 7, g_path.c_str());
    else
      run_read(section.c_str(), key.c_str(), value);
  }
  return 0;
}
