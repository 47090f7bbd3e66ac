#include "alert/shell_value.h"

#include <cstring>

namespace {

bool plain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("@._-+:/,%", c) != nullptr);
}

}  // namespace

bool shell_safe_value(const char* value, char separator) {
  for (const char* c = value; *c; ++c)
    if (!plain(static_cast<unsigned char>(*c)) && !(separator != '\0' && *c == separator))
      return false;
  return true;
}

EchoQuoted echo_quoted(const char* value) {
  EchoQuoted quoted{};
  std::size_t used = 0;
  for (const char* c = value; *c; ++c) {
    const bool special = std::strchr("\"\\$`", *c) != nullptr;
    if (used + (special ? 2 : 1) >= EchoQuoted::kMax) break;
    if (special) quoted.text[used++] = '\\';
    quoted.text[used++] = *c;
  }
  quoted.text[used] = '\0';
  return quoted;
}
