#include "support/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string frame_of(int code, const std::string& data) {
  return std::string("\xFF\xFA\x2C") + static_cast<char>(code) + data + "\xFF\xF0";
}

// Reads tokens from text[at] up to the end or a closing parenthesis.
class BytesReader {
 public:
  explicit BytesReader(const std::string& text) : text_(text) {}

  bool read(std::string* out, bool inside, std::string* error) {
    for (;;) {
      while (at_ < text_.size() && text_[at_] == ' ') ++at_;
      if (at_ == text_.size()) return inside ? fail("missing )", error) : true;
      if (text_[at_] == ')') {
        if (!inside) return fail("unexpected )", error);
        ++at_;
        return true;
      }
      std::string one;
      if (!token(&one, error) || !repeat(&one, error)) return false;
      *out += one;
    }
  }

 private:
  bool fail(const std::string& why, std::string* error) {
    *error = why + " at column " + std::to_string(at_ + 1);
    return false;
  }

  std::string word() {
    const std::size_t from = at_;
    while (at_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[at_]))) ++at_;
    return text_.substr(from, at_ - from);
  }

  // FIRST or FIRST..LAST, decimal codes to 255.
  bool codes(const std::string& first, std::string last, int* from, int* to) {
    if (text_.compare(at_, 2, "..") == 0) {
      at_ += 2;
      last = word();
    }
    const auto number = [](const std::string& w, int* n) {
      *n = std::atoi(w.c_str());
      return !w.empty() && w.find_first_not_of("0123456789") == std::string::npos && *n <= 255;
    };
    return number(first, from) && number(last, to) && *from <= *to;
  }

  bool token(std::string* out, std::string* error) {
    if (text_[at_] == '"') return quoted(out, error);
    const std::string w = word();
    int from = 0, to = 0;
    if (w == "error" && at_ < text_.size() && text_[at_] == '(') {  // error(CODES)
      ++at_;
      const std::string first = word();
      if (!codes(first, first, &from, &to) || at_ >= text_.size() || text_[at_] != ')')
        return fail("error(CODE) needs decimal codes to 255", error);
      ++at_;
      for (int c = from; c <= to; ++c) *out += frame_of(180, std::string(1, static_cast<char>(c)));
      return true;
    }
    const std::size_t at_code = at_;
    if (codes(w, w, &from, &to) && at_ < text_.size() && text_[at_] == '(') {  // CODES(BYTES)
      ++at_;
      std::string data;
      if (!read(&data, true, error)) return false;
      for (int c = from; c <= to; ++c) *out += frame_of(c, data);
      return true;
    }
    at_ = at_code;
    if (w.size() != 2 || hex_digit(w[0]) < 0 || hex_digit(w[1]) < 0)
      return fail("not a byte: " + w, error);
    *out = std::string(1, static_cast<char>(hex_digit(w[0]) * 16 + hex_digit(w[1])));
    return true;
  }

  bool quoted(std::string* out, std::string* error) {
    for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
      char c = text_[at_];
      if (c == '\\' && at_ + 1 < text_.size()) {
        c = text_[++at_];
        c = c == '0' ? '\0' : c == 'n' ? '\n' : c;
      }
      out->push_back(c);
    }
    if (at_ == text_.size()) return fail("unterminated text", error);
    ++at_;
    return true;
  }

  bool repeat(std::string* one, std::string* error) {
    if (at_ >= text_.size() || text_[at_] != '*') return true;
    std::size_t end = ++at_;
    while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
    if (end == at_) return fail("*N needs a count", error);
    const int n = std::atoi(text_.substr(at_, end - at_).c_str());
    std::string all;
    for (int i = 0; i < n; ++i) all += *one;
    *one = all;
    at_ = end;
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error) {
  bytes->clear();
  return BytesReader(text).read(bytes, false, error);
}

bool parse_scenario(const std::string& text, std::vector<ScenarioStep>* steps,
                    std::string* error) {
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == ' ') {
      if (steps->empty()) return (*error = "line " + std::to_string(n) + ": block without a step"), false;
      const std::size_t first = line.find_first_not_of(' ');
      steps->back().block.push_back(first == std::string::npos ? "" : line.substr(first));
      continue;
    }
    ScenarioStep step;
    step.line = n;
    const std::size_t space = line.find(' ');
    step.verb = line.substr(0, space);
    step.rest = space == std::string::npos ? "" : line.substr(space + 1);
    std::istringstream words(step.rest);
    for (std::string w; words >> w;) step.words.push_back(w);
    steps->push_back(step);
  }
  return true;
}

std::vector<std::string> scenario_files() {
  std::vector<std::string> files;
  const char* source = std::getenv("STATION_SOURCE_DIR");
  if (!source) return files;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(source) + "/tests/data/scenarios", ec))
    if (entry.path().extension() == ".scn") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}
