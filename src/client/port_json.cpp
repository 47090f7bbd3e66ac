#include "client/port_json.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

std::string dumped(const Json& json, int indent) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// Texts on the unit are bytes, JSON strings are UTF-8. A text's UTF-8 sequences go as they
// are; each other byte goes as the code point U+F700 + byte (private use, U+F780..U+F7FF)
// and comes back as that byte, so that every text survives show --json and apply. Such a
// code point in the text itself goes byte by byte the same way.
constexpr unsigned kStrayBase = 0xF700;

// The length of the UTF-8 sequence at s[i], or 0 when none starts there.
std::size_t utf8_length(const std::string& s, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u;
  };
  const unsigned c = at(i);
  const auto tail = [&](std::size_t n, unsigned lo, unsigned hi) {
    if (at(i + 1) < lo || at(i + 1) > hi) return std::size_t{0};
    for (std::size_t k = 2; k <= n; ++k)
      if (at(i + k) < 0x80 || at(i + k) > 0xBF) return std::size_t{0};
    return n + 1;
  };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return tail(1, 0x80, 0xBF);
  if (c == 0xE0) return tail(2, 0xA0, 0xBF);
  if (c == 0xED) return tail(2, 0x80, 0x9F);
  if (c >= 0xE1 && c <= 0xEF) return tail(2, 0x80, 0xBF);
  if (c == 0xF0) return tail(3, 0x90, 0xBF);
  if (c == 0xF4) return tail(3, 0x80, 0x8F);
  if (c >= 0xF1 && c <= 0xF3) return tail(3, 0x80, 0xBF);
  return 0;
}

std::string to_utf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = utf8_length(bytes, i);
    // A text that holds U+F780..U+F7FF itself sends its three bytes as strays, so that they
    // come back as they were.
    const bool escape_code = n == 3 && static_cast<unsigned char>(bytes[i]) == 0xEF &&
                             (static_cast<unsigned char>(bytes[i + 1]) & 0xFE) == 0x9E;
    if (n > 0 && !escape_code) {
      out.append(bytes, i, n);
      i += n;
      continue;
    }
    const unsigned cp = kStrayBase + static_cast<unsigned char>(bytes[i++]);
    out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))};
  }
  return out;
}

std::string from_utf8(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    // U+F780..U+F7FF: EF 9E 80 .. EF 9F BF
    if (at(i) == 0xEF && i + 2 < text.size() && (at(i + 1) == 0x9E || at(i + 1) == 0x9F) &&
        at(i + 2) >= 0x80 && at(i + 2) <= 0xBF) {
      out.push_back(static_cast<char>(0x80 | (at(i + 1) & 1) << 6 | (at(i + 2) & 0x3F)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// The member a path names under root, made with the members above it where missing. A step
// "[3]" (up to the next '.' or '[') is the third item of an array.
Json& place(Json& root, const std::string& path) {
  Json* at = &root;
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = path.find_first_of(".[", start + 1);
    const std::string step = path.substr(start, end - start);
    start = end == std::string::npos ? path.size() : end + (path[end] == '.');
    if (step[0] == '[') {
      const std::size_t item = std::strtoul(step.c_str() + 1, nullptr, 10);
      if (!at->is_array()) *at = Json::array();
      while (at->size() < item) at->push_back(Json::object());
      at = &(*at)[item - 1];
    } else {
      at = &(*at)[step];
    }
  }
  return *at;
}

// Reads a JSON text as events and turns each plain value into an edit at its path. The
// first value that cannot be an edit is remembered, and reported only when the whole text
// is JSON: a syntax error anywhere comes first.
class EditReader : public nlohmann::json_sax<Json> {
 public:
  explicit EditReader(std::vector<Edit>* edits) : edits_(edits) {}
  std::string syntax_error, value_error;
  std::vector<std::string> top_keys;

  bool null() override { return value(nullptr); }
  bool boolean(bool v) override { return text(v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override { return text(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return text(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& written) override { return text(written); }
  bool string(string_t& v) override { return text(from_utf8(v)); }
  bool binary(binary_t&) override { return value(nullptr); }
  bool start_object(std::size_t) override { return open(false); }
  bool start_array(std::size_t) override { return open(true); }
  bool key(string_t& name) override {
    if (open_.size() == 1) top_keys.push_back(name);
    open_.back().member = open_.back().path.empty() ? name : open_.back().path + "." + name;
    return true;
  }
  bool end_object() override { return open_.pop_back(), true; }
  bool end_array() override { return open_.pop_back(), true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // "[json.exception.parse_error.101] parse error at line 2, column 13: syntax error ..."
    const std::string what = e.what();
    const std::size_t line = what.find("line "), reason = what.find(": ", line);
    syntax_error = line == std::string::npos || reason == std::string::npos
                       ? what
                       : what.substr(line, what.find(',', line) - line) + what.substr(reason);
    return false;
  }

 private:
  struct Open {
    bool array;
    std::string path;    // the object's or array's own ("" for the document)
    std::string member;  // an object's current member
    int items = 0;       // an array's items so far
  };

  // The memory-only values are shown, never read back: those of a port document and those
  // of each port of a unit document.
  static bool read_back(const std::string& path) {
    std::size_t at = 0;
    if (path.rfind("ports[", 0) == 0 && path.find("].") != std::string::npos)
      at = path.find("].") + 2;
    const std::string rest = path.substr(at);
    return rest != "memory_only" && rest.rfind("memory_only.", 0) != 0 &&
           rest.rfind("memory_only[", 0) != 0;
  }
  // The path of the value that starts here: the current member, or the array's next item.
  std::string next_path() {
    Open& o = open_.back();
    if (!o.array) return o.member;
    if (++o.items > udp::kEntryCount && read_back(o.path))
      refuse(o.path + ": more than " + std::to_string(udp::kEntryCount) + " entries");
    return o.path + "[" + std::to_string(o.items) + "]";
  }
  bool open(bool array) {
    const std::string path = open_.empty() ? "" : next_path();
    if (open_.empty() && array) refuse("the file does not hold one JSON object");
    open_.push_back(Open{array, path, "", 0});
    return true;
  }
  bool text(const std::string& v) { return value(&v); }
  // A plain value's text, or nullptr for one that cannot be an edit.
  bool value(const std::string* v) {
    if (open_.empty()) return refuse("the file does not hold one JSON object"), true;
    const std::string path = next_path();
    if (!read_back(path)) return true;
    if (!v) return refuse(path + ": null is not a value"), true;
    edits_->push_back(Edit{path, *v});
    return true;
  }
  void refuse(const std::string& why) {
    if (value_error.empty()) value_error = why;
  }

  std::vector<Edit>* edits_;
  std::vector<Open> open_;
};

// The document's members for the fields of view that pass the filter, under root.
template <typename Filter>
void put_fields(const PortView& view, Filter keep, Json& root) {
  for (const Field& f : port_fields()) {
    if (!field_shown(view, f) || !keep(f.path)) continue;
    const std::string text = field_text(view, f, false);
    Json& value = place(root, f.path);
    if (json_string(*f.row, text))
      value = to_utf8(text);
    else
      value = std::strtoull(text.c_str(), nullptr, 10);
  }
}

// Every value of the text as an edit, the port numbers among them, and the document's own
// member names.
bool read_edits(const std::string& text, std::vector<Edit>* edits,
                std::vector<std::string>* top_keys, std::string* error) {
  edits->clear();
  EditReader reader(edits);
  const bool parsed = Json::sax_parse(text, &reader);
  *error = !parsed ? reader.syntax_error : reader.value_error;
  *top_keys = reader.top_keys;
  return parsed && reader.value_error.empty();
}

// A unit document's edits sorted into the unit's and each port's. false with the path.
bool sort_unit_edits(const std::vector<Edit>& edits, DocumentEdits* document, std::string* error) {
  for (const Edit& e : edits) {
    if (e.field.rfind("unit.", 0) == 0) {
      const std::string field = e.field.substr(5);
      if (!unit_wide(field))
        return (*error = e.field + ": not a setting of the whole unit (ports[] hold the rest)"),
               false;
      document->unit_edits.push_back(Edit{field, e.value});
      continue;
    }
    const std::size_t close = e.field.find(']');
    if (e.field.rfind("ports[", 0) != 0 || close == std::string::npos)
      return (*error = e.field + " is not a part of a unit document (\"unit\", \"ports\")"), false;
    const std::size_t item = std::strtoul(e.field.c_str() + 6, nullptr, 10);
    if (document->ports.size() < item) document->ports.resize(item);
    PortEdits& port = document->ports[item - 1];
    const std::string field = close + 2 <= e.field.size() ? e.field.substr(close + 2) : "";
    if (field.empty()) {
      return (*error = e.field + " is not a port's document"), false;
    } else if (field == "port") {
      if (e.value != "1" && e.value != "2")
        return (*error = e.field + ": " + e.value + " is not a serial port of the unit (1 or 2)"),
               false;
      port.port = e.value[0] - '0';
    } else if (unit_wide(field)) {
      return (*error = e.field + ": a setting of the whole unit belongs under \"unit\""), false;
    } else {
      port.edits.push_back(Edit{field, e.value});
    }
  }
  for (std::size_t i = 0; i < document->ports.size(); ++i) {
    const std::string item = "ports[" + std::to_string(i + 1) + "]";
    if (document->ports[i].port == 0) return (*error = item + ": no \"port\" number"), false;
    for (std::size_t k = 0; k < i; ++k)
      if (document->ports[k].port == document->ports[i].port)
        return (*error = item + ": port " + std::to_string(document->ports[i].port) + " twice"),
               false;
  }
  return true;
}

}  // namespace

bool unit_wide(const std::string& path) {
  return path.rfind("snmp.", 0) == 0 || path.rfind("net.", 0) == 0;
}

std::string port_view_json(const PortView& view) {
  Json root = Json::object();
  root["port"] = view.port;
  put_fields(
      view, [](const std::string&) { return true; }, root);
  return dumped(root, 2) + "\n";
}

std::string unit_view_json(const std::vector<PortView>& ports) {
  Json root = Json::object();
  root["unit"] = Json::object();
  if (!ports.empty()) put_fields(ports[0], unit_wide, root["unit"]);
  root["ports"] = Json::array();
  for (const PortView& view : ports) {
    Json port = Json::object();
    port["port"] = view.port;
    put_fields(
        view, [](const std::string& path) { return !unit_wide(path); }, port);
    root["ports"].push_back(port);
  }
  return dumped(root, 2) + "\n";
}

bool json_edits(const std::string& text, std::vector<Edit>* edits, std::string* error) {
  std::vector<std::string> top_keys;
  if (!read_edits(text, edits, &top_keys, error)) return false;
  std::erase_if(*edits, [](const Edit& e) { return e.field == "port"; });  // shown only
  return true;
}

bool document_edits(const std::string& text, DocumentEdits* document, std::string* error) {
  *document = DocumentEdits{};
  std::vector<Edit> edits;
  std::vector<std::string> top_keys;
  if (!read_edits(text, &edits, &top_keys, error)) return false;
  for (const std::string& key : top_keys)
    document->unit_document |= key == "unit" || key == "ports";
  if (document->unit_document) return sort_unit_edits(edits, document, error);
  std::erase_if(edits, [](const Edit& e) { return e.field == "port"; });  // shown only
  document->ports.push_back(PortEdits{0, edits});
  return true;
}

std::string diff_json(const std::vector<DiffLine>& lines) {
  Json list = Json::array();
  for (const DiffLine& l : lines) {
    Json line = Json::object();
    line["port"] = l.port ? Json(l.port) : Json(nullptr);
    line["field"] = l.change.field;
    line["from"] = to_utf8(l.change.from);
    line["to"] = to_utf8(l.change.to);
    list.push_back(line);
  }
  return dumped(list, 2) + "\n";
}

std::string json_quoted(const std::string& text) { return dumped(Json(to_utf8(text)), -1); }
