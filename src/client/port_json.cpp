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

// A port's document: its number, then its fields, those of the whole unit only when asked.
Json port_document(const PortView& view, bool with_unit_wide) {
  Json port = Json::object();
  port["port"] = view.port;
  put_fields(
      view, [=](const std::string& path) { return with_unit_wide || !unit_wide(path); }, port);
  return port;
}

// The memory-only values are shown, never read back.
bool read_back(const std::string& path) {
  return path != "memory_only" && path.rfind("memory_only.", 0) != 0 &&
         path.rfind("memory_only[", 0) != 0;
}

// Every plain value under json as an edit at its path ("link.entries[2].port" for the second
// entry's port), numbers as JSON writes them. false with the path of a value that cannot be an
// edit: null, or an array of more than 8 entries.
bool collect(const Json& json, const std::string& path, std::vector<Edit>* edits,
             std::string* error) {
  if (!read_back(path)) return true;
  if (json.is_object()) {
    for (const auto& [name, value] : json.items())
      if (!collect(value, path.empty() ? name : path + "." + name, edits, error)) return false;
  } else if (json.is_array()) {
    if (json.size() > udp::kEntryCount)
      return (*error = path + ": more than " + std::to_string(udp::kEntryCount) + " entries"),
             false;
    for (std::size_t i = 0; i < json.size(); ++i)
      if (!collect(json[i], path + "[" + std::to_string(i + 1) + "]", edits, error)) return false;
  } else if (json.is_null()) {
    return (*error = path + ": null is not a value"), false;
  } else {
    edits->push_back(
        Edit{path, json.is_string() ? from_utf8(json.get<std::string>()) : dumped(json, -1)});
  }
  return true;
}

// One port's document (item: where it stands, "" for the whole file): its edits, and the
// text of the port number it names ("" for none).
bool port_edits(const Json& json, const std::string& item, std::vector<Edit>* edits,
                std::string* number, std::string* error) {
  if (!json.is_object()) return (*error = item + " is not a port's document"), false;
  if (!collect(json, "", edits, error))
    return (*error = item.empty() ? *error : item + "." + *error), false;
  for (const Edit& e : *edits)
    if (e.field == "port") *number = e.value;
  std::erase_if(*edits, [](const Edit& e) { return e.field == "port"; });
  return true;
}

// A unit document: its unit-wide settings under "unit", each port under "ports".
bool unit_edits(const Json& json, DocumentEdits* document, std::string* error) {
  for (const auto& [name, value] : json.items())
    if (name != "unit" && name != "ports")
      return (*error = name + " is not a part of a unit document (\"unit\", \"ports\")"), false;
  const Json& unit = json.contains("unit") ? json["unit"] : Json::object();
  if (!unit.is_object()) return (*error = "unit is not an object of settings"), false;
  if (!collect(unit, "", &document->unit_edits, error)) return (*error = "unit." + *error), false;
  for (const Edit& e : document->unit_edits)
    if (!unit_wide(e.field))
      return (*error =
                  "unit." + e.field + ": not a setting of the whole unit (ports[] hold the rest)"),
             false;
  const Json& ports = json.contains("ports") ? json["ports"] : Json::array();
  if (!ports.is_array()) return (*error = "ports is not a list of port documents"), false;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string item = "ports[" + std::to_string(i + 1) + "]";
    PortEdits port;
    std::string number;
    if (!port_edits(ports[i], item, &port.edits, &number, error)) return false;
    for (const Edit& e : port.edits)
      if (unit_wide(e.field))
        return (*error =
                    item + "." + e.field + ": a setting of the whole unit belongs under \"unit\""),
               false;
    if (!number.empty() && number != "1" && number != "2")
      return (*error = item + ".port: " + number + " is not a serial port of the unit (1 or 2)"),
             false;
    port.port = number.empty() ? 0 : number[0] - '0';
    if (port.port == 0) return (*error = item + ": no \"port\" number"), false;
    for (const PortEdits& other : document->ports)
      if (other.port == port.port)
        return (*error = item + ": port " + std::to_string(port.port) + " twice"), false;
    document->ports.push_back(port);
  }
  return true;
}

}  // namespace

bool unit_wide(const std::string& path) {
  return path.rfind("snmp.", 0) == 0 || path.rfind("net.", 0) == 0;
}

std::string port_view_json(const PortView& view) {
  return dumped(port_document(view, true), 2) + "\n";
}

std::string unit_view_json(const std::vector<PortView>& ports) {
  Json root = Json::object();
  root["unit"] = Json::object();
  if (!ports.empty()) put_fields(ports[0], unit_wide, root["unit"]);
  root["ports"] = Json::array();
  for (const PortView& view : ports) root["ports"].push_back(port_document(view, false));
  return dumped(root, 2) + "\n";
}

bool document_edits(const std::string& text, DocumentEdits* document, std::string* error) {
  *document = DocumentEdits{};
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 2, column 13: syntax error ..."
    const std::string what = e.what();
    const std::size_t line = what.find("line "), reason = what.find(": ", line);
    *error = line == std::string::npos || reason == std::string::npos
                 ? what
                 : what.substr(line, what.find(',', line) - line) + what.substr(reason);
    return false;
  }
  if (!json.is_object()) return (*error = "the file does not hold one JSON object"), false;
  document->unit_document = json.contains("unit") || json.contains("ports");
  if (document->unit_document) return unit_edits(json, document, error);
  std::string number;  // shown only: a port document goes where the command line says
  document->ports.emplace_back();
  return port_edits(json, "", &document->ports.back().edits, &number, error);
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
