#include "storage/inifile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/require.h"

namespace {

constexpr int kMaxText = kIniBufferSize - 1;  // the text and its terminating NUL fill the buffer

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// The white space skipped between a header's ']' and the body (isspace in the C locale).
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The line end or terminating NUL that closes the line holding position i. All three bytes
// are at most '\r', so most bytes cost one comparison.
int line_end(const char* text, int i) {
  for (;; ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) <= '\r' && (c == '\n' || c == '\r' || c == '\0')) return i;
  }
}

bool is_header(const char* text, int i) {
  return text[i] == '[' && (i == 0 || is_line_end(text[i - 1]));
}

void clear_positions(IniPositions* p) {
  p->section_start = p->section_end = -1;
  p->key_start = p->key_end = -1;
  p->value_start = p->value_end = -1;
}

// Reads up to count bytes, retrying after signals; a short result means end of file.
ssize_t read_fully(int fd, char* to, size_t count) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, to + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool write_fully(int fd, const char* from, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, from, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Builds the new text of a write; anything that would pass the text limit marks it too long
// instead of being stored, so the caller can refuse the write before the file is touched.
struct TextBuilder {
  char* out;
  size_t used;
  bool too_long;

  void put(const char* bytes, size_t count) {
    if (too_long || count > static_cast<size_t>(kMaxText) - used) {
      too_long = true;
      return;
    }
    std::memcpy(out + used, bytes, count);
    used += count;
  }
  void put(const char* text) { put(text, std::strlen(text)); }
};

void no_buffer(const char* routine) {
  std::printf("Warning: No buffer to process ini files\n");
  std::printf("Ingore this %s\n", routine);
}

}  // namespace

namespace {

// Loading without the look for a NUL byte: the text is terminated after the bytes read and
// *length counts them all. kIniLoaded, kIniCannotOpen, kIniTooLarge or kIniReadError.
int load_text(const char* path, char* buffer, int* length) {
  *length = 0;
  buffer[0] = '\0';
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kIniCannotOpen;

  const ssize_t got = read_fully(fd, buffer, kMaxText);
  char probe;
  // One byte more than the text can hold tells a full-size file from a too large one.
  const ssize_t more = got == kMaxText ? read_fully(fd, &probe, 1) : 0;
  ::close(fd);
  if (got < 0 || more < 0) {
    buffer[0] = '\0';
    return kIniReadError;
  }
  if (more > 0) {
    buffer[0] = '\0';
    return kIniTooLarge;
  }
  buffer[got] = '\0';
  *length = static_cast<int>(got);
  return kIniLoaded;
}

}  // namespace

int load_ini_file(const char* path, char* buffer, int* length) {
  STATION_REQUIRE(path != nullptr && buffer != nullptr && length != nullptr);
  const int loaded = load_text(path, buffer, length);
  if (loaded != kIniLoaded) return loaded;
  const void* nul = std::memchr(buffer, '\0', static_cast<size_t>(*length));
  if (nul != nullptr) {
    *length = static_cast<int>(static_cast<const char*>(nul) - buffer);
    return kIniHoldsNul;
  }
  return kIniLoaded;
}

int parse_file(const char* section, const char* key, const char* text, IniPositions* positions) {
  STATION_REQUIRE(section != nullptr && section[0] != '\0' && key != nullptr && key[0] != '\0');
  STATION_REQUIRE(text != nullptr && positions != nullptr);
  clear_positions(positions);
  const size_t section_length = std::strlen(section);
  const size_t key_length = std::strlen(key);
  // A line's key is the text before its first '=', never starts a comment and holds no line
  // end; a requested key that breaks one of these can match no line. Any other key matches
  // exactly the lines that begin with it followed by '='.
  const bool key_can_match = key[0] != ';' && std::strpbrk(key, "=\r\n") == nullptr;

  int i = 0;
  for (;;) {
    // Every header begins with a '['; strchr passes over the other sections' bytes quickly.
    const char* open = std::strchr(text + i, '[');
    if (open == nullptr) return 0;
    i = static_cast<int>(open - text);
    if (!is_header(text, i)) {
      ++i;
      continue;
    }
    // The name runs to the next ']' anywhere in the text, across line ends, or to its end.
    // Names are short: a plain loop costs less than a library call.
    const int name = i + 1;
    int name_end = name;
    while (text[name_end] != ']' && text[name_end] != '\0') ++name_end;
    if (static_cast<size_t>(name_end - name) != section_length ||
        std::memcmp(text + name, section, section_length) != 0) {
      i = name_end;
      continue;
    }
    int body = text[name_end] == ']' ? name_end + 1 : name_end;
    while (is_space(text[body])) ++body;
    positions->section_start = name;
    positions->section_end = body;

    int line = body;
    while (text[line] != '\0' && !is_header(text, line)) {
      if (key_can_match && std::strncmp(text + line, key, key_length) == 0 &&
          text[line + static_cast<int>(key_length)] == '=') {
        const int equals = line + static_cast<int>(key_length);
        positions->key_start = line;
        positions->key_end = equals - 1;
        positions->value_start = equals + 1;
        positions->value_end = line_end(text, equals + 1);
        return 1;
      }
      // One line-end byte only: the LF of a CR LF pair starts an empty line of its own.
      const int eol = line_end(text, line);
      line = text[eol] != '\0' ? eol + 1 : eol;
    }
    // Either the end of the text or the next header, which may be this section again.
    i = line;
  }
}

int read_text_string(const char* section, const char* key, char* value, int size,
                     const char* default_value, const char* text) {
  STATION_REQUIRE(section != nullptr && section[0] != '\0' && key != nullptr && key[0] != '\0');
  STATION_REQUIRE(value != nullptr && size >= 1);
  IniPositions at;
  const int found = text != nullptr && parse_file(section, key, text, &at) == 1;
  if (!found) {
    if (default_value != nullptr) std::strncpy(value, default_value, static_cast<size_t>(size));
    return 0;
  }
  int n = at.value_end - at.value_start;
  if (n > size - 1) n = size - 1;
  std::memset(value, 0, static_cast<size_t>(size));
  std::memcpy(value, text + at.value_start, static_cast<size_t>(n));
  return 1;
}

namespace {

// atoi's reading of the text; out-of-range numbers are clamped so that the PC (64-bit long)
// and the device (32-bit long) give the same result where atoi is undefined.
int decimal_value(const char* text) {
  const long number = std::strtol(text, nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

}  // namespace

int read_text_int(const char* section, const char* key, int default_value, const char* text) {
  char scratch[32];
  std::memset(scratch, 0, sizeof scratch);
  if (read_text_string(section, key, scratch, sizeof scratch, nullptr, text) != 1)
    return default_value;
  return decimal_value(scratch);
}

int read_profile_string(const char* section, const char* key, char* value, int size,
                        const char* default_value, const char* path) {
  char* text = new (std::nothrow) char[kIniBufferSize];
  if (text == nullptr) {
    no_buffer("read_profile_string");
    return 0;
  }
  STATION_REQUIRE(section != nullptr && section[0] != '\0' && key != nullptr && key[0] != '\0');
  STATION_REQUIRE(value != nullptr && size >= 1 && path != nullptr);

  int length = 0;
  // A NUL-holding file is read as its text up to the NUL, which is where the search stops
  // anyway, so a read need not look for one; a refused file reads as a missing one.
  const int loaded = load_text(path, text, &length);
  const int found = read_text_string(section, key, value, size, default_value,
                                     loaded == kIniLoaded ? text : nullptr);
  delete[] text;
  return found;
}

int read_profile_int(const char* section, const char* key, int default_value, const char* path) {
  char scratch[32];
  std::memset(scratch, 0, sizeof scratch);
  if (read_profile_string(section, key, scratch, sizeof scratch, nullptr, path) != 1)
    return default_value;
  return decimal_value(scratch);
}

float read_profile_float(const char* section, const char* key, int default_value,
                         const char* path) {
  char scratch[32];
  std::memset(scratch, 0, sizeof scratch);
  if (read_profile_string(section, key, scratch, sizeof scratch, nullptr, path) != 1)
    return static_cast<float>(default_value);
  // atof's reading of the text, converted straight to single precision: a number beyond
  // float's range becomes infinity instead of an undefined double-to-float conversion.
  return std::strtof(scratch, nullptr);
}

int write_profile_string(const char* section, const char* key, const char* value,
                         const char* path) {
  char* old_text = new (std::nothrow) char[kIniBufferSize];
  char* new_text = new (std::nothrow) char[kIniBufferSize];
  if (old_text == nullptr || new_text == nullptr) {
    delete[] old_text;
    delete[] new_text;
    no_buffer("write_profile_string");
    return 0;
  }
  STATION_REQUIRE(section != nullptr && section[0] != '\0' && key != nullptr && key[0] != '\0');
  STATION_REQUIRE(value != nullptr && path != nullptr);

  int length = 0;
  const int loaded = load_ini_file(path, old_text, &length);
  IniPositions at;
  clear_positions(&at);
  int found = 0;
  if (loaded == kIniLoaded) {
    found = parse_file(section, key, old_text, &at);
  } else if (loaded != kIniCannotOpen) {
    // Too large, unreadable or holding a NUL: rewriting would lose what we could not load.
    delete[] old_text;
    delete[] new_text;
    return 0;
  }

  TextBuilder b{new_text, 0, false};
  const size_t old_length = static_cast<size_t>(length);
  if (found) {
    // Only the value bytes change; the key's spelling and the line end stay as they were.
    b.put(old_text, static_cast<size_t>(at.value_start));
    b.put(value);
    b.put(old_text + at.value_end, old_length - static_cast<size_t>(at.value_end));
  } else if (at.section_start >= 0) {
    // The new key becomes the first line of the body of the last occurrence of the section.
    const size_t body = static_cast<size_t>(at.section_end);
    b.put(old_text, body);
    b.put(key);
    b.put("=");
    b.put(value);
    b.put("\n");
    b.put(old_text + body, old_length - body);
  } else {
    // A line end first, so that a last line without one is closed before the header.
    if (old_length > 0) {
      b.put(old_text, old_length);
      b.put("\n");
    }
    b.put("[");
    b.put(section);
    b.put("]\n");
    b.put(key);
    b.put("=");
    b.put(value);
    b.put("\n");
  }
  delete[] old_text;
  if (b.too_long) {
    delete[] new_text;
    return 0;
  }

  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    delete[] new_text;
    return 0;
  }
  const bool written = write_fully(fd, new_text, b.used);
  const bool closed = ::close(fd) == 0;
  delete[] new_text;
  return written && closed ? 1 : 0;
}

int split_tokens(char* text, char** tokens, const char* delimiters) {
  if (text == nullptr || delimiters == nullptr) return 0;
  int count = 0;
  for (char* token = std::strtok(text, delimiters); token != nullptr;
       token = std::strtok(nullptr, delimiters)) {
    STATION_REQUIRE(tokens != nullptr && tokens[count] != nullptr);
    std::strcpy(tokens[count], token);
    ++count;
  }
  return count;
}
