// Runs a few reads and writes against a real file whose text comes from the input, and checks
// what must hold whatever the text: a written key that the syntax lets us find reads back as
// its value up to the first line end, a refused write leaves the file byte for byte, a read
// never writes past its size and leaves the buffer NUL-filled after the value.
//
// Input: flags byte, then fields separated by 0x01: the file text, then per operation three
// fields: op letter + section, key, value ('w' write, 'i' int read, 'f' float read, 't' split
// the value at the key's bytes, otherwise a string read whose size is the value's first byte
// and whose default is the rest). The flags' high nibble 8 pads the text by repetition to
// 65,535 - (low nibble) bytes, C to 65,536 + (low nibble), 2 removes the file instead; the large
// files are kept to a few flag values because they cost most of the run time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "storage/inifile.h"

namespace {

std::string g_dir;
std::string g_path;

void remove_scratch() {
  ::unlink(g_path.c_str());
  ::rmdir(g_dir.c_str());
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "inifile_fuzz: %s\n", what);
    std::abort();
  }
}

bool file_text(std::string* text) {
  text->clear();
  const int fd = ::open(g_path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  char chunk[8192];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text->append(chunk, static_cast<size_t>(n));
  ::close(fd);
  return true;
}

void put_file(const std::string& text) {
  const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  check(fd >= 0, "cannot create the scratch file");
  check(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "short write");
  ::close(fd);
}

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// True when the syntax lets a write of key under section be found again, whatever the value:
// either the key is found in the old text now (only its value changes), or key and section
// can be spelled in the file and every header of the old text is closed by a ']' (an open
// one would swallow what the write adds).
bool findable_after_write(const std::string& old_text, bool loaded, const char* section,
                          const char* key) {
  IniPositions at;
  if (loaded && parse_file(section, key, old_text.c_str(), &at) == 1) return true;
  if (std::strchr(section, ']') || std::strchr(key, '=') || std::strpbrk(key, "\r\n")) return false;
  if (std::strchr(" \t\n\v\f\r;[", key[0])) return false;
  size_t last_header = std::string::npos;
  for (size_t i = 0; i < old_text.size(); ++i)
    if (old_text[i] == '[' && (i == 0 || is_line_end(old_text[i - 1]))) last_header = i;
  return last_header == std::string::npos || old_text.find(']', last_header) != std::string::npos;
}

void run_write(const char* section, const char* key, const char* value) {
  std::string before;
  const bool existed = file_text(&before);
  const bool has_nul = before.find('\0') != std::string::npos;
  const int result = write_profile_string(section, key, value, g_path.c_str());
  std::string after;
  const bool exists = file_text(&after);
  if (result != 1) {
    check(exists == existed && after == before, "a refused write changed the file");
    return;
  }
  check(existed ? before.size() < 65536 && !has_nul : true, "an unloadable file was rewritten");
  check(after.size() <= 65535, "a write passed the text limit");
  if (!findable_after_write(before, existed, section, key)) return;
  std::vector<char> got(kIniBufferSize, 'x');
  check(read_profile_string(section, key, got.data(), kIniBufferSize, nullptr, g_path.c_str()) == 1,
        "a written key was not found");
  const size_t line = std::strcspn(value, "\r\n");
  check(std::string(got.data()) == std::string(value, line), "a written value read back wrong");
}

void run_read(const char* section, const char* key, const std::string& value) {
  const int size = value.empty() ? 1 : 1 + static_cast<unsigned char>(value[0]) % 64;
  const char* def = value.size() > 1 ? value.c_str() + 1 : nullptr;
  std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
  const int found = read_profile_string(section, key, buffer.data(), size, def, g_path.c_str());
  for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i)
    check(buffer[i] == '#', "a read wrote past its size");
  if (found == 1) {
    const size_t n = ::strnlen(buffer.data(), static_cast<size_t>(size));
    check(n < static_cast<size_t>(size), "a found value is not terminated");
    for (size_t i = n; i < static_cast<size_t>(size); ++i)
      check(buffer[i] == '\0', "the value buffer is not NUL-filled");
    return;
  }
  check(found == 0, "a read gave neither 1 nor 0");
  // Not found: the default goes in as strncpy puts it, and no default leaves the buffer be.
  std::vector<char> expect(static_cast<size_t>(size), '#');
  if (def) std::strncpy(expect.data(), def, static_cast<size_t>(size));
  check(std::memcmp(expect.data(), buffer.data(), static_cast<size_t>(size)) == 0,
        "the default was not applied as strncpy does");
}

void run_split(const std::string& text, const char* delimiters) {
  if (text.size() > 256) return;  // room for every possible token grows with the square
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  const size_t room = copy.size();
  std::vector<std::vector<char>> out(room, std::vector<char>(room, '\0'));
  std::vector<char*> tokens;
  for (auto& o : out) tokens.push_back(o.data());
  const int count = split_tokens(copy.data(), tokens.data(), delimiters);
  check(count >= 0 && static_cast<size_t>(count) <= room / 2 + 1, "too many tokens");
}

std::vector<std::string> split_fields(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01)
      fields.emplace_back();
    else
      fields.back().push_back(static_cast<char>(data[i]));
  }
  return fields;
}

// Sections and keys are never empty (a caller obligation); a NUL ends them as in C.
std::string name(const std::string& field, const char* fallback) {
  std::string s(field.c_str());
  return s.empty() ? fallback : s;
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
  const uint8_t flags = data[0];
  std::vector<std::string> fields = split_fields(data + 1, size - 1);
  std::string text = fields[0];
  const unsigned mode = flags >> 4;
  if (mode == 0x8 || mode == 0xC) {
    const size_t target = mode == 0x8 ? 65535 - (flags & 0xFu) : 65536 + (flags & 0xFu);
    if (text.empty()) text = "x";
    while (text.size() < target) text.append(text, 0, std::min(text.size(), target - text.size()));
    text.resize(target);
  }
  if (mode == 0x2)
    ::unlink(g_path.c_str());
  else
    put_file(text);

  for (size_t f = 1, ops = 0; f < fields.size() && ops < 6; f += 3, ++ops) {
    const std::string& head = fields[f];
    const char op = head.empty() ? 'r' : head[0];
    const std::string section = name(head.empty() ? head : head.substr(1), "S");
    const std::string key = name(f + 1 < fields.size() ? fields[f + 1] : "", "K");
    const std::string value = f + 2 < fields.size() ? fields[f + 2] : "";
    switch (op) {
      case 'w':
        run_write(section.c_str(), key.c_str(), std::string(value.c_str()).c_str());
        break;
      case 'i':
        (void)read_profile_int(section.c_str(), key.c_str(), 7, g_path.c_str());
        break;
      case 'f':
        (void)read_profile_float(section.c_str(), key.c_str(), 7, g_path.c_str());
        break;
      case 't':
        run_split(value, key.c_str());
        break;
      default:
        run_read(section.c_str(), key.c_str(), value);
    }
  }
  return 0;
}
