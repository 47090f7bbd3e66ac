#include "client/port_json.h"

#include <utility>

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;  // key, rendered value

std::string pad(int indent) { return std::string(static_cast<std::size_t>(indent), ' '); }

std::string block(const Members& members, int indent) {
  std::string out = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i)
    out += pad(indent + 2) + json_quote(members[i].first) + ": " + members[i].second +
           (i + 1 < members.size() ? ",\n" : "\n");
  return out + pad(indent) + "}";
}

std::string inline_object(const Members& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i)
    out += (i ? ", " : "") + json_quote(members[i].first) + ": " + members[i].second;
  return out + "}";
}

std::string num(unsigned long value) { return std::to_string(value); }
std::string ip(const Ipv4& a) { return json_quote(format_ipv4(a)); }
std::string name(const NameTable& t, int code) {
  const NamedCode* c = find_code(t, code);
  return c ? json_quote(c->name) : std::to_string(code);
}

std::string link_json(const LinkSettings& link, int indent) {
  Members m = {{"mode", name(kLinkModeNames, link.mode)}};
  if (link.mode == 1) {
    const TcpServerLayout& s = link.server;
    m.insert(m.end(), {{"local_port", num(s.local_port)},
                       {"ip_filter", num(static_cast<unsigned>(s.ip_filter))},
                       {"source_ip", ip(s.source_ip)},
                       {"max_connections", num(s.max_connections)}});
  } else if (link.mode == 2) {
    const TcpClientLayout& c = link.client;
    m.insert(m.end(), {{"dest1_ip", ip(c.dest1_ip)},
                       {"dest1_port", num(c.dest1_port)},
                       {"dest2_enable", num(static_cast<unsigned>(c.dest2_enable))},
                       {"dest2_ip", ip(c.dest2_ip)},
                       {"dest2_port", num(c.dest2_port)}});
  } else if (link.mode == 3) {
    m.push_back({"local_port", num(link.udp.local_port)});
    std::string entries = "[\n";
    for (int i = 0; i < kUdpEntries; ++i) {
      const UdpEntry& e = link.udp.entries[i];
      entries += pad(indent + 4) +
                 inline_object({{"enable", num(static_cast<unsigned>(e.enable))},
                                {"port", num(e.port)},
                                {"begin_ip", ip(e.begin_ip)},
                                {"end_ip", ip(e.end_ip)}}) +
                 (i + 1 < kUdpEntries ? ",\n" : "\n");
    }
    m.push_back({"entries", entries + pad(indent + 2) + "]"});
  }
  return block(m, indent);
}

std::string delimiter_json(const Delimiter& d, int indent) {
  return block({{"flag", num(d.flag)},
                {"timer", num(d.timer)},
                {"chars", json_quote(hex_bytes(d.chars.data(), d.chars.size(), ""))},
                {"max_bytes", num(d.max_bytes)}},
               indent);
}

bool flatten(const JsonValue& v, const std::string& path, std::vector<Edit>* edits,
             std::string* error) {
  switch (v.kind) {
    case JsonValue::kObject:
      for (const auto& [key, member] : v.members)
        if (!flatten(member, path.empty() ? key : path + "." + key, edits, error)) return false;
      return true;
    case JsonValue::kArray:
      if (v.items.size() > static_cast<std::size_t>(kUdpEntries)) {
        *error = path + ": more than " + std::to_string(kUdpEntries) + " entries";
        return false;
      }
      for (std::size_t i = 0; i < v.items.size(); ++i)
        if (!flatten(v.items[i], path + "[" + std::to_string(i + 1) + "]", edits, error))
          return false;
      return true;
    case JsonValue::kNull:
      *error = path + ": null is not a value";
      return false;
    default:
      edits->push_back(Edit{path, v.text});
      return true;
  }
}

}  // namespace

std::string port_view_json(const PortView& v) {
  Members top = {
      {"port", num(static_cast<unsigned>(v.port))},
      {"serial", block({{"baud", num(v.serial.baud)},
                        {"data_bits", num(static_cast<unsigned>(v.serial.data_bits))},
                        {"parity", name(kParityNames, v.serial.parity)},
                        {"stop_bits", num(static_cast<unsigned>(v.serial.stop_bits))},
                        {"flow", name(kFlowNames, v.serial.flow)}},
                       2)},
      {"interface", name(kInterfaceNames, v.uart_mode)},
      {"tcp_mode", name(kTcpModeNames, v.tcp_mode)},
      {"link", link_json(v.link, 2)},
      {"delimiters", block({{"uart", delimiter_json(v.uart_delimiter, 4)},
                            {"tcp", delimiter_json(v.tcp_delimiter, 4)}},
                           2)},
      {"snmp", block({{"name", json_quote(v.sys_name)},
                      {"location", json_quote(v.sys_location)},
                      {"contact", json_quote(v.sys_contact)}},
                     2)},
  };
  if (v.has_net)
    top.push_back({"net", block({{"ip", ip(v.ip)},
                                 {"gateway", ip(v.gateway)},
                                 {"netmask", ip(v.netmask)}},
                                2)});
  top.push_back({"memory_only", block({{"alias", json_quote(v.alias)},
                                       {"option79", num(static_cast<unsigned>(v.option79))},
                                       {"option99", num(static_cast<unsigned>(v.option99))}},
                                      2)});
  return block(top, 0) + "\n";
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
