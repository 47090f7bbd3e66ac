#include "client/json.h"

#include <cstdio>

namespace {

constexpr int kMaxDepth = 32;  // far beyond what stationctl writes; keeps recursion bounded
// JSON's two-character escapes: the letter after the backslash, then what it stands for.
constexpr char kEscapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
constexpr std::size_t kEscapeChars = sizeof kEscapes - 1;

struct Reader {
  const std::string& s;
  std::size_t pos = 0;
  std::string error;

  bool fail(const std::string& why) {
    if (error.empty()) {
      int line = 1;
      for (std::size_t i = 0; i < pos && i < s.size(); ++i) line += s[i] == '\n';
      error = "line " + std::to_string(line) + ": " + why;
    }
    return false;
  }
  void skip_space() {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
      ++pos;
  }
  bool take(char c) {
    skip_space();
    if (pos < s.size() && s[pos] == c) return ++pos, true;
    return false;
  }
  bool word(const char* w, JsonValue* v, JsonValue::Kind kind) {
    const std::string text = w;
    if (s.compare(pos, text.size(), text) != 0) return fail("unexpected text");
    pos += text.size();
    v->kind = kind;
    v->text = kind == JsonValue::kNull ? "" : text;
    return true;
  }
  static int hex(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  }
  void put_utf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | cp >> 6));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | cp >> 12));
      out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  bool string(std::string* out) {
    ++pos;  // the opening quote
    out->clear();
    while (pos < s.size() && s[pos] != '"') {
      const char c = s[pos++];
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos >= s.size()) break;
      const char e = s[pos++];
      if (e == 'u') {
        unsigned cp = 0;
        for (int i = 0; i < 4; ++i) {
          const int d = pos < s.size() ? hex(s[pos++]) : -1;
          if (d < 0) return fail("bad \\u escape");
          cp = cp * 16 + static_cast<unsigned>(d);
        }
        put_utf8(cp, out);
        continue;
      }
      std::size_t i = 0;
      while (i < kEscapeChars && kEscapes[i] != e) i += 2;
      if (i >= kEscapeChars) return fail("bad escape in a string");
      out->push_back(kEscapes[i + 1]);
    }
    if (pos >= s.size()) return fail("unterminated string");
    ++pos;
    return true;
  }
  bool number(JsonValue* v) {
    const std::size_t start = pos;
    if (s[pos] == '-') ++pos;
    const auto digits = [&] {
      const std::size_t from = pos;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
      return pos > from;
    };
    if (!digits()) return fail("bad number");
    if (pos < s.size() && s[pos] == '.' && (++pos, !digits())) return fail("bad number");
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
      ++pos;
      if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
      if (!digits()) return fail("bad number");
    }
    v->kind = JsonValue::kNumber;
    v->text = s.substr(start, pos - start);
    return true;
  }
  bool value(JsonValue* v, int depth) {
    skip_space();
    if (depth > kMaxDepth) return fail("nested too deeply");
    if (pos >= s.size()) return fail("value expected");
    const char c = s[pos];
    if (c == '{') {
      ++pos;
      v->kind = JsonValue::kObject;
      if (take('}')) return true;
      do {
        skip_space();
        std::string key;
        if (pos >= s.size() || s[pos] != '"') return fail("member name expected");
        if (!string(&key)) return false;
        if (!take(':')) return fail("':' expected");
        v->members.push_back(JsonMember{key, JsonValue{}});
        if (!value(&v->members.back().value, depth + 1)) return false;
      } while (take(','));
      return take('}') || fail("',' or '}' expected");
    }
    if (c == '[') {
      ++pos;
      v->kind = JsonValue::kArray;
      if (take(']')) return true;
      do {
        v->items.emplace_back();
        if (!value(&v->items.back(), depth + 1)) return false;
      } while (take(','));
      return take(']') || fail("',' or ']' expected");
    }
    if (c == '"') {
      v->kind = JsonValue::kString;
      return string(&v->text);
    }
    if (c == 't') return word("true", v, JsonValue::kBool);
    if (c == 'f') return word("false", v, JsonValue::kBool);
    if (c == 'n') return word("null", v, JsonValue::kNull);
    if (c == '-' || (c >= '0' && c <= '9')) return number(v);
    return fail("unexpected character");
  }
};

}  // namespace

bool json_parse(const std::string& text, JsonValue* value, std::string* error) {
  Reader r{text, 0, {}};
  *value = JsonValue{};
  const bool ok =
      r.value(value, 0) && (r.skip_space(), r.pos == text.size() || r.fail("text after the value"));
  if (!ok) *error = r.error;
  return ok;
}

std::string json_quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    std::size_t i = 1;
    while (i < kEscapeChars && (kEscapes[i] != c || c == '/')) i += 2;
    if (i < kEscapeChars) {
      out += {'\\', kEscapes[i - 1]};
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
      out += esc;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}
