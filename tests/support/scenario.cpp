#include "support/scenario.h"

#include <cctype>

namespace {

std::string frame_of(int code, const std::string& data) {
  return std::string("\xFF\xFA\x2C") + static_cast<char>(code) + data + "\xFF\xF0";
}

struct Reader {
  const std::string& t;
  std::string* error;
  std::size_t i = 0;

  bool fail(const std::string& why) {
    *error = why + " at column " + std::to_string(i + 1);
    return false;
  }
  bool is(char c) const { return i < t.size() && t[i] == c; }
  std::string word() {
    const std::size_t from = i;
    while (i < t.size() && std::isalnum(static_cast<unsigned char>(t[i]))) ++i;
    return t.substr(from, i - from);
  }
  // FIRST or FIRST..LAST: decimal codes to 255.
  bool codes(const std::string& first, int* from, int* to) {
    std::string last = first;
    if (t.compare(i, 2, "..") == 0) i += 2, last = word();
    const auto number = [](const std::string& w, int* n) {
      if (w.empty() || w.size() > 3 || w.find_first_not_of("0123456789") != std::string::npos)
        return false;
      return (*n = std::stoi(w)) <= 255;
    };
    return number(first, from) && number(last, to) && *from <= *to;
  }

  // Tokens up to the end, or (inside) up to the closing parenthesis.
  bool bytes(std::string* out, bool inside) {
    for (;;) {
      while (is(' ')) ++i;
      if (i == t.size()) return !inside || fail("missing )");
      if (is(')')) return inside ? (++i, true) : fail("unexpected )");
      std::string one;
      if (!token(&one)) return false;
      if (is('*')) {
        ++i;
        const std::string n = word();
        if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos)
          return fail("*N needs a count");
        for (int k = std::stoi(n); k > 0; --k) *out += one;
      } else {
        *out += one;
      }
    }
  }

  bool token(std::string* out) {
    if (is('"')) {
      for (++i; i < t.size() && t[i] != '"'; ++i) {
        char c = t[i];
        if (c == '\\' && i + 1 < t.size()) c = t[++i], c = c == '0' ? '\0' : c == 'n' ? '\n' : c;
        out->push_back(c);
      }
      return is('"') ? (++i, true) : fail("unterminated text");
    }
    const std::size_t start = i;
    const std::string w = word();
    int from = 0, to = 0;
    if (w == "error" && is('(')) {
      ++i;
      if (!codes(word(), &from, &to) || !is(')')) return fail("error(CODE) needs codes to 255");
      ++i;
      for (int c = from; c <= to; ++c) *out += frame_of(180, std::string(1, static_cast<char>(c)));
      return true;
    }
    std::string data;
    if (codes(w, &from, &to) && is('(')) {
      ++i;
      if (!bytes(&data, true)) return false;
      for (int c = from; c <= to; ++c) *out += frame_of(c, data);
      return true;
    }
    i = start + w.size();
    if (w.size() != 2 || !std::isxdigit(static_cast<unsigned char>(w[0])) ||
        !std::isxdigit(static_cast<unsigned char>(w[1])))
      return fail("not a byte: " + w);
    out->push_back(static_cast<char>(std::stoi(w, nullptr, 16)));
    return true;
  }
};

}  // namespace

bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error) {
  bytes->clear();
  return Reader{text, error}.bytes(bytes, false);
}
