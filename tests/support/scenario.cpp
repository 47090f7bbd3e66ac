#include "support/scenario.h"

#include <cctype>

#include "support/sim_harness.h"

namespace {

struct Reader {
  const std::string& t;
  std::string* error;
  std::size_t i = 0;

  bool fail(const std::string& why) {
    return *error = why + " at column " + std::to_string(i + 1), false;
  }
  bool is(char c) const { return i < t.size() && t[i] == c; }
  std::string word() {
    const std::size_t from = i;
    while (i < t.size() && std::isalnum(static_cast<unsigned char>(t[i]))) ++i;
    return t.substr(from, i - from);
  }
  static bool number(const std::string& w, int* n, int max) {
    return !w.empty() && w.size() <= 5 && w.find_first_not_of("0123456789") == w.npos &&
           (*n = std::stoi(w)) <= max;
  }

  // Tokens up to the end, or (inside) up to the closing parenthesis.
  bool bytes(std::string* out, bool inside) {
    for (std::string one;; one.clear()) {
      while (is(' ') || is('\n')) ++i;
      if (i == t.size()) return !inside || fail("missing )");
      if (is(')')) return inside ? (++i, true) : fail("unexpected )");
      int n = 1;
      if (!token(&one)) return false;
      if (is('*') && (++i, !number(word(), &n, 99999))) return fail("*N needs a count");
      while (n-- > 0) *out += one;
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
    const std::string w = word();
    const bool error = w == "error" && is('(') && ++i;  // error(CODES), else CODES(BYTES)
    std::string first = error ? word() : w, last = first, data;
    if (t.compare(i, 2, "..") == 0) i += 2, last = word();
    int from = 0, to = 0;
    if (number(first, &from, 255) && number(last, &to, 255) && from <= to &&
        is(error ? ')' : '(')) {
      if (++i, !error && !bytes(&data, true)) return false;
      for (int c = from; c <= to; ++c) *out += error ? error_reply(c) : frame(c, data);
      return true;
    }
    if (error || last != first || w.size() != 2 ||
        w.find_first_not_of("0123456789abcdefABCDEF") != w.npos)
      return fail(error ? "error(CODE) needs decimal codes to 255" : "not a byte: " + w);
    return out->push_back(static_cast<char>(std::stoi(w, nullptr, 16))), true;
  }
};

}  // namespace

bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error) {
  bytes->clear();
  return Reader{text, error}.bytes(bytes, false);
}
