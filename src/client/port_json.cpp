#include "client/port_json.h"

#include <algorithm>

namespace {

// The object as the field paths build it: members in the order the rows give them.
struct Node {
  std::string key;
  std::string value;          // a leaf's JSON text
  std::vector<Node> members;  // an object's members, or an array's items
  bool array = false;
};

// The node a path names under root, made with the nodes above it where missing. An index
// "[3]" makes its parent an array.
Node* place(Node* root, std::string path) {
  for (std::size_t at = path.find('['); at != std::string::npos; at = path.find('[', at + 2))
    path.insert(at, ".");
  Node* n = root;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t dot = std::min(path.find('.', start), path.size());
    const std::string key = path.substr(start, dot - start);
    n->array = key[0] == '[';
    Node* next = nullptr;
    for (Node& m : n->members)
      if (m.key == key) next = &m;
    if (!next) {
      n->members.push_back(Node{key, "", {}, false});
      next = &n->members.back();
    }
    n = next;
    start = dot + 1;
  }
  return n;
}

std::string pad(int indent) { return std::string(static_cast<std::size_t>(indent), ' '); }

std::string render(const Node& n, int indent) {
  if (n.members.empty()) return n.value;
  std::string out = n.array ? "[\n" : "{\n";
  for (std::size_t i = 0; i < n.members.size(); ++i) {
    const Node& m = n.members[i];
    out += pad(indent + 2);
    if (n.array) {  // each item on one line
      out += "{";
      for (std::size_t k = 0; k < m.members.size(); ++k)
        out += (k ? ", " : "") + json_quote(m.members[k].key) + ": " + m.members[k].value;
      out += "}";
    } else {
      out += json_quote(m.key) + ": " + render(m, indent + 2);
    }
    out += i + 1 < n.members.size() ? ",\n" : "\n";
  }
  return out + pad(indent) + (n.array ? "]" : "}");
}

bool flatten(const JsonValue& v, const std::string& path, std::vector<Edit>* edits,
             std::string* error) {
  if (v.kind == JsonValue::kNull) return (*error = path + ": null is not a value"), false;
  if (v.items.size() > static_cast<std::size_t>(udp::kEntryCount))
    return (*error = path + ": more than " + std::to_string(udp::kEntryCount) + " entries"), false;
  for (const auto& [key, member] : v.members)
    if (!flatten(member, path + "." + key, edits, error)) return false;
  for (std::size_t i = 0; i < v.items.size(); ++i)
    if (!flatten(v.items[i], path + "[" + std::to_string(i + 1) + "]", edits, error)) return false;
  if (v.kind != JsonValue::kObject && v.kind != JsonValue::kArray)
    edits->push_back(Edit{path, v.text});
  return true;
}

}  // namespace

std::string port_view_json(const PortView& view) {
  Node root;
  place(&root, "port")->value = std::to_string(view.port);
  for (const Field& f : port_fields()) {
    if (!field_shown(view, f)) continue;
    const std::string text = field_text(view, f, false);
    place(&root, f.path)->value = json_string(*f.row, text) ? json_quote(text) : text;
  }
  return render(root, 0) + "\n";
}

bool json_edits(const JsonValue& object, std::vector<Edit>* edits, std::string* error) {
  edits->clear();
  if (object.kind != JsonValue::kObject) {
    *error = "the file does not hold one JSON object";
    return false;
  }
  for (const auto& [key, member] : object.members) {
    if (key == "port" || key == "memory_only") continue;  // informational only
    if (!flatten(member, key, edits, error)) return false;
  }
  return true;
}
