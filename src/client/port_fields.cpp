#include "client/port_fields.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "common/byte_order.h"

namespace {

enum class Id {
  kBaud,
  kDataBits,
  kParity,
  kStopBits,
  kFlow,
  kInterface,
  kSendTcpMode,
  kLinkMode,
  kServerLocalPort,
  kServerIpFilter,
  kServerSourceIp,
  kServerMaxConnections,
  kClientDest1Ip,
  kClientDest1Port,
  kClientDest2Enable,
  kClientDest2Ip,
  kClientDest2Port,
  kUdpLocalPort,
  kUdpEnable,
  kUdpPort,
  kUdpBeginIp,
  kUdpEndIp,
  kUartFlag,
  kUartTimer,
  kUartChars,
  kUartMaxBytes,
  kTcpFlag,
  kTcpTimer,
  kTcpChars,
  kTcpMaxBytes,
  kSysName,
  kSysLocation,
  kSysContact,
  kNetIp,
  kNetGateway,
  kNetNetmask,
};

// What a field's change sends.
enum Section : unsigned {
  kSerial = 1,
  kInterface = 2,
  kSendTcpMode = 4,
  kLink = 8,
  kUartDelim = 16,
  kTcpDelim = 32,
  kSnmp = 64,
  kNet = 128,
};

struct FieldDef {
  Id id;
  const char* path;  // "[]" stands for a UDP entry number 1..8
  int link_mode;     // the layout the field belongs to; 0 outside the link
  unsigned section;
};

// In the order the requests go out: the link before the TCP mode, which depends on it.
constexpr FieldDef kFields[] = {
    {Id::kBaud, "serial.baud", 0, kSerial},
    {Id::kDataBits, "serial.data_bits", 0, kSerial},
    {Id::kParity, "serial.parity", 0, kSerial},
    {Id::kStopBits, "serial.stop_bits", 0, kSerial},
    {Id::kFlow, "serial.flow", 0, kSerial},
    {Id::kInterface, "interface", 0, kInterface},
    {Id::kLinkMode, "link.mode", 0, kLink},
    {Id::kServerLocalPort, "link.local_port", 1, kLink},
    {Id::kServerIpFilter, "link.ip_filter", 1, kLink},
    {Id::kServerSourceIp, "link.source_ip", 1, kLink},
    {Id::kServerMaxConnections, "link.max_connections", 1, kLink},
    {Id::kClientDest1Ip, "link.dest1_ip", 2, kLink},
    {Id::kClientDest1Port, "link.dest1_port", 2, kLink},
    {Id::kClientDest2Enable, "link.dest2_enable", 2, kLink},
    {Id::kClientDest2Ip, "link.dest2_ip", 2, kLink},
    {Id::kClientDest2Port, "link.dest2_port", 2, kLink},
    {Id::kUdpLocalPort, "link.local_port", 3, kLink},
    {Id::kUdpEnable, "link.entries[].enable", 3, kLink},
    {Id::kUdpPort, "link.entries[].port", 3, kLink},
    {Id::kUdpBeginIp, "link.entries[].begin_ip", 3, kLink},
    {Id::kUdpEndIp, "link.entries[].end_ip", 3, kLink},
    {Id::kSendTcpMode, "tcp_mode", 0, kSendTcpMode},
    {Id::kUartFlag, "delimiters.uart.flag", 0, kUartDelim},
    {Id::kUartTimer, "delimiters.uart.timer", 0, kUartDelim},
    {Id::kUartChars, "delimiters.uart.chars", 0, kUartDelim},
    {Id::kUartMaxBytes, "delimiters.uart.max_bytes", 0, kUartDelim},
    {Id::kTcpFlag, "delimiters.tcp.flag", 0, kTcpDelim},
    {Id::kTcpTimer, "delimiters.tcp.timer", 0, kTcpDelim},
    {Id::kTcpChars, "delimiters.tcp.chars", 0, kTcpDelim},
    {Id::kTcpMaxBytes, "delimiters.tcp.max_bytes", 0, kTcpDelim},
    {Id::kSysName, "snmp.name", 0, kSnmp},
    {Id::kSysLocation, "snmp.location", 0, kSnmp},
    {Id::kSysContact, "snmp.contact", 0, kSnmp},
    {Id::kNetIp, "net.ip", 0, kNet},
    {Id::kNetGateway, "net.gateway", 0, kNet},
    {Id::kNetNetmask, "net.netmask", 0, kNet},
};
constexpr std::size_t kTextMax = 31;  // the unit's text fields hold 31 characters and a NUL

// "link.entries[3].port" -> pattern "link.entries[].port", entry 3; entry 0 without brackets.
bool split_entry(const std::string& field, std::string* pattern, int* entry) {
  const std::size_t open = field.find('[');
  *entry = 0;
  *pattern = field;
  if (open == std::string::npos) return true;
  const std::size_t close = field.find(']', open);
  if (close != open + 2 || field[open + 1] < '1' || field[open + 1] > '8') return false;
  *entry = field[open + 1] - '0';
  *pattern = field.substr(0, open + 1) + field.substr(close);
  return true;
}

std::string with_entry(const FieldDef& def, int entry) {
  std::string path = def.path;
  const std::size_t open = path.find('[');
  if (open != std::string::npos) path.insert(open + 1, std::to_string(entry));
  return path;
}

bool parse_uint(const std::string& text, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// Switches: 0 or 1, or the words people use for them.
bool parse_switch(const std::string& text, int* value) {
  for (const char* on : {"1", "on", "yes", "true"})
    if (text == on) return (*value = 1), true;
  for (const char* off : {"0", "off", "no", "false"})
    if (text == off) return (*value = 0), true;
  return false;
}

bool parse_hex_chars(const std::string& text, std::vector<unsigned char>* chars) {
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ':') digits.push_back(c);
  if (digits.rfind("0x", 0) == 0) digits.erase(0, 2);
  if (digits == "none") digits.clear();
  if (digits.size() % 2 != 0 || digits.size() > 4) return false;
  chars->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    uint32_t v = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = digits[k];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    chars->push_back(static_cast<unsigned char>(v));
  }
  return true;
}

std::string names_of(const NameTable& t, int skip_code) {
  std::vector<std::string> names;
  for (int i = 0; i < t.count; ++i)
    if (t.items[i].code != skip_code) names.push_back(t.items[i].name);
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return out;
}

std::string name_or_number(const NameTable& t, int code) {
  const NamedCode* c = find_code(t, code);
  return c ? c->name : std::to_string(code);
}

Delimiter& delimiter_of(PortView* v, Id id) {
  return id <= Id::kUartMaxBytes ? v->uart_delimiter : v->tcp_delimiter;
}
const Delimiter& delimiter_of(const PortView& v, Id id) {
  return id <= Id::kUartMaxBytes ? v.uart_delimiter : v.tcp_delimiter;
}

std::string field_text(const PortView& v, Id id, int entry) {
  const UdpEntry& e = v.link.udp.entries[entry > 0 ? entry - 1 : 0];
  switch (id) {
    case Id::kBaud:
      return std::to_string(v.serial.baud);
    case Id::kDataBits:
      return std::to_string(v.serial.data_bits);
    case Id::kParity:
      return name_or_number(kParityNames, v.serial.parity);
    case Id::kStopBits:
      return std::to_string(v.serial.stop_bits);
    case Id::kFlow:
      return name_or_number(kFlowNames, v.serial.flow);
    case Id::kInterface:
      return name_or_number(kInterfaceNames, v.uart_mode);
    case Id::kSendTcpMode:
      return name_or_number(kTcpModeNames, v.tcp_mode);
    case Id::kLinkMode:
      return name_or_number(kLinkModeNames, v.link.mode);
    case Id::kServerLocalPort:
      return std::to_string(v.link.server.local_port);
    case Id::kServerIpFilter:
      return std::to_string(v.link.server.ip_filter);
    case Id::kServerSourceIp:
      return format_ipv4(v.link.server.source_ip);
    case Id::kServerMaxConnections:
      return std::to_string(v.link.server.max_connections);
    case Id::kClientDest1Ip:
      return format_ipv4(v.link.client.dest1_ip);
    case Id::kClientDest1Port:
      return std::to_string(v.link.client.dest1_port);
    case Id::kClientDest2Enable:
      return std::to_string(v.link.client.dest2_enable);
    case Id::kClientDest2Ip:
      return format_ipv4(v.link.client.dest2_ip);
    case Id::kClientDest2Port:
      return std::to_string(v.link.client.dest2_port);
    case Id::kUdpLocalPort:
      return std::to_string(v.link.udp.local_port);
    case Id::kUdpEnable:
      return std::to_string(e.enable);
    case Id::kUdpPort:
      return std::to_string(e.port);
    case Id::kUdpBeginIp:
      return format_ipv4(e.begin_ip);
    case Id::kUdpEndIp:
      return format_ipv4(e.end_ip);
    case Id::kUartFlag:
    case Id::kTcpFlag:
      return std::to_string(delimiter_of(v, id).flag);
    case Id::kUartTimer:
    case Id::kTcpTimer:
      return std::to_string(delimiter_of(v, id).timer);
    case Id::kUartChars:
    case Id::kTcpChars: {
      const Delimiter& d = delimiter_of(v, id);
      return hex_bytes(d.chars.data(), d.chars.size(), "");
    }
    case Id::kUartMaxBytes:
    case Id::kTcpMaxBytes:
      return std::to_string(delimiter_of(v, id).max_bytes);
    case Id::kSysName:
      return v.sys_name;
    case Id::kSysLocation:
      return v.sys_location;
    case Id::kSysContact:
      return v.sys_contact;
    case Id::kNetIp:
      return format_ipv4(v.ip);
    case Id::kNetGateway:
      return format_ipv4(v.gateway);
    case Id::kNetNetmask:
      return format_ipv4(v.netmask);
  }
  return "";
}

// Whether the current value of a field is known: a link layout is read only for its mode,
// the stored addresses only over eth0.
bool field_known(const PortView& v, const FieldDef& def) {
  if (def.link_mode != 0) return layout_known(v.link, def.link_mode);
  return def.section != kNet || v.has_net;
}

// Parses value into the field of v. false with the reason for the person who gave it.
bool set_field(PortView* v, Id id, int entry, const std::string& value, std::string* why) {
  uint32_t n = 0;
  int sw = 0;
  UdpEntry& e = v->link.udp.entries[entry > 0 ? entry - 1 : 0];
  const auto u16 = [&](uint16_t* out) {
    if (!parse_uint(value, 65535, &n)) return (*why = "not a number from 0 to 65535"), false;
    *out = static_cast<uint16_t>(n);
    return true;
  };
  const auto address = [&](Ipv4* out) {
    if (!parse_ipv4(value, out)) return (*why = "not an IPv4 address such as 10.0.0.1"), false;
    return true;
  };
  const auto byte_switch = [&](int* out) {
    if (parse_switch(value, &sw)) {
      *out = sw;
      return true;
    }
    if (parse_uint(value, 255, &n)) {
      *out = static_cast<int>(n);
      return true;
    }
    *why = "not 0 or 1 (off or on)";
    return false;
  };
  const auto named = [&](const NameTable& t, int* out, int skip) {
    const int code = code_for_name(t, value);
    if (code == 0 || code == skip) return (*why = "not one of " + names_of(t, skip)), false;
    *out = code;
    return true;
  };
  const auto text = [&](std::string* out) {
    if (value.size() > kTextMax || value.find('\0') != std::string::npos)
      return (*why = "not a text of at most 31 characters"), false;
    *out = value;
    return true;
  };
  switch (id) {
    case Id::kBaud:
      if (!parse_uint(value, UINT32_MAX, &n) || !is_supported_baud(n)) {
        *why = "not a rate the unit supports:";
        for (uint32_t r : kBaudRates) *why += " " + std::to_string(r);
        return false;
      }
      v->serial.baud = n;
      return true;
    case Id::kDataBits:
      if (!parse_uint(value, 8, &n) || n < 5) return (*why = "not 5, 6, 7 or 8 data bits"), false;
      v->serial.data_bits = static_cast<int>(n);
      return true;
    case Id::kParity:
      return named(kParityNames, &v->serial.parity, 0);
    case Id::kStopBits:
      if (value != "1" && value != "2") return (*why = "not 1 or 2 stop bits"), false;
      v->serial.stop_bits = value[0] - '0';
      return true;
    case Id::kFlow:
      return named(kFlowNames, &v->serial.flow, 0);
    case Id::kInterface:
      return named(kInterfaceNames, &v->uart_mode, 0);
    case Id::kSendTcpMode:
      return named(kTcpModeNames, &v->tcp_mode, 0);
    case Id::kLinkMode:  // the fourth mode lives in memory only; nothing here sets it
      return named(kLinkModeNames, &v->link.mode, 4);
    case Id::kServerLocalPort:
      return u16(&v->link.server.local_port);
    case Id::kServerIpFilter:
      return byte_switch(&v->link.server.ip_filter);
    case Id::kServerSourceIp:
      return address(&v->link.server.source_ip);
    case Id::kServerMaxConnections:
      if (!parse_uint(value, UINT32_MAX, &n)) return (*why = "not a whole number"), false;
      v->link.server.max_connections = n;
      return true;
    case Id::kClientDest1Ip:
      return address(&v->link.client.dest1_ip);
    case Id::kClientDest1Port:
      return u16(&v->link.client.dest1_port);
    case Id::kClientDest2Enable:
      return byte_switch(&v->link.client.dest2_enable);
    case Id::kClientDest2Ip:
      return address(&v->link.client.dest2_ip);
    case Id::kClientDest2Port:
      return u16(&v->link.client.dest2_port);
    case Id::kUdpLocalPort:
      return u16(&v->link.udp.local_port);
    case Id::kUdpEnable:
      if (!byte_switch(&e.enable)) return false;
      // The unit reads entry 1 as enabled whatever is stored for it.
      if (entry == 1 && e.enable != 1) return (*why = "refused: entry 1 is always enabled"), false;
      return true;
    case Id::kUdpPort:
      return u16(&e.port);
    case Id::kUdpBeginIp:
      return address(&e.begin_ip);
    case Id::kUdpEndIp:
      return address(&e.end_ip);
    case Id::kUartFlag:
    case Id::kTcpFlag:
      return u16(&delimiter_of(v, id).flag);
    case Id::kUartTimer:
    case Id::kTcpTimer:
      return u16(&delimiter_of(v, id).timer);
    case Id::kUartChars:
    case Id::kTcpChars:
      if (!parse_hex_chars(value, &delimiter_of(v, id).chars))
        return (*why = "not none, one or two bytes in hex, such as 0d0a"), false;
      return true;
    case Id::kUartMaxBytes:
    case Id::kTcpMaxBytes:
      return u16(&delimiter_of(v, id).max_bytes);
    case Id::kSysName:
      return text(&v->sys_name);
    case Id::kSysLocation:
      return text(&v->sys_location);
    case Id::kSysContact:
      return text(&v->sys_contact);
    case Id::kNetIp:
      return address(&v->ip);
    case Id::kNetGateway:
      return address(&v->gateway);
    case Id::kNetNetmask:
      return address(&v->netmask);
  }
  return false;
}

bool holds_frame_end(const std::vector<unsigned char>& data) {
  for (std::size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xF0) return true;
  return false;
}

// A field's bytes as its request carries them, to find FF F0 before anything is sent.
std::vector<unsigned char> wire_bytes(const PortView& v, Id id, int entry) {
  std::vector<unsigned char> b;
  const auto le16 = [&](uint16_t n) {
    b.resize(2);
    put_le16(n, b.data());
  };
  const auto ip = [&](const Ipv4& a) { b.assign(a.begin(), a.end()); };
  const auto text = [&](const std::string& t) { b.assign(t.begin(), t.end()); };
  const UdpEntry& e = v.link.udp.entries[entry > 0 ? entry - 1 : 0];
  switch (id) {
    case Id::kBaud:
      b.resize(4);
      put_be32(v.serial.baud, b.data());
      break;
    case Id::kServerLocalPort:
      le16(v.link.server.local_port);
      break;
    case Id::kServerSourceIp:
      ip(v.link.server.source_ip);
      break;
    case Id::kServerMaxConnections:
      b.resize(4);
      put_le32(v.link.server.max_connections, b.data());
      break;
    case Id::kClientDest1Ip:
      ip(v.link.client.dest1_ip);
      break;
    case Id::kClientDest1Port:
      le16(v.link.client.dest1_port);
      break;
    case Id::kClientDest2Ip:
      ip(v.link.client.dest2_ip);
      break;
    case Id::kClientDest2Port:
      le16(v.link.client.dest2_port);
      break;
    case Id::kUdpLocalPort:
      le16(v.link.udp.local_port);
      break;
    case Id::kUdpPort:
      le16(e.port);
      break;
    case Id::kUdpBeginIp:
      ip(e.begin_ip);
      break;
    case Id::kUdpEndIp:
      ip(e.end_ip);
      break;
    case Id::kUartFlag:
    case Id::kTcpFlag:
      le16(delimiter_of(v, id).flag);
      break;
    case Id::kUartTimer:
    case Id::kTcpTimer:
      le16(delimiter_of(v, id).timer);
      break;
    case Id::kUartChars:
    case Id::kTcpChars:
      b = delimiter_of(v, id).chars;
      break;
    case Id::kUartMaxBytes:
    case Id::kTcpMaxBytes:
      le16(delimiter_of(v, id).max_bytes);
      break;
    case Id::kSysName:
      text(v.sys_name);
      break;
    case Id::kSysLocation:
      text(v.sys_location);
      break;
    case Id::kSysContact:
      text(v.sys_contact);
      break;
    case Id::kNetIp:
      ip(v.ip);
      break;
    case Id::kNetGateway:
      ip(v.gateway);
      break;
    case Id::kNetNetmask:
      ip(v.netmask);
      break;
    default:  // one-byte values cannot hold the pair
      break;
  }
  return b;
}

std::string unsendable(const std::string& field, const std::string& value) {
  return field + ": " + value +
         " cannot be sent: its bytes hold FF F0, which end a frame of the protocol";
}

// The definition of a field name under the link mode the edits lead to.
const FieldDef* resolve(const std::string& pattern, int link_mode, std::string* error) {
  bool other_mode = false;
  for (const FieldDef& def : kFields) {
    if (pattern != def.path) continue;
    if (def.link_mode == 0 || def.link_mode == link_mode) return &def;
    other_mode = true;
  }
  const NamedCode* have = find_code(kLinkModeNames, link_mode);
  *error = other_mode ? std::string("is not a setting of link mode ") + (have ? have->name : "?")
                      : std::string("is not a setting stationctl knows");
  return nullptr;
}

void append_text_request(std::vector<Request>* out, int sub, const std::string& text) {
  out->push_back(text_request(sub, text));
}

void append_net_request(std::vector<Request>* out, int sub, const Ipv4& a) {
  out->push_back(Request{88, {static_cast<unsigned char>(sub), a[0], a[1], a[2], a[3]}});
}

}  // namespace

int edited_link_mode(const std::vector<Edit>& edits) {
  int mode = 0;
  for (const Edit& e : edits)
    if (e.field == "link.mode") mode = code_for_name(kLinkModeNames, e.value);
  return mode;
}

bool check_edit_values(const std::vector<Edit>& edits, std::string* error) {
  const int mode = edited_link_mode(edits);
  PortView scratch;
  for (const Edit& e : edits) {
    std::string pattern, why;
    int entry = 0;
    const FieldDef* def = nullptr;
    if (!split_entry(e.field, &pattern, &entry)) {
      why = "names no UDP entry 1 to 8";
    } else {
      // Without a link mode among the edits, a link field may belong to any layout.
      for (int m = mode ? mode : 1; !def && m <= (mode ? mode : 3); ++m)
        def = resolve(pattern, m, &why);
    }
    if (!def) {
      *error = e.field + " " + why;
      return false;
    }
    if (!set_field(&scratch, def->id, entry, e.value, &why)) {
      *error = e.field + ": " + (e.value.empty() ? "an empty value" : e.value) + " is " + why;
      return false;
    }
    if (holds_frame_end(wire_bytes(scratch, def->id, entry))) {
      *error = unsendable(e.field, e.value);
      return false;
    }
  }
  return true;
}

unsigned reads_for_edits(const std::vector<Edit>& edits) {
  unsigned parts = 0;
  for (const Edit& e : edits) {
    if (e.field.rfind("link.", 0) == 0) parts |= kReadGetAll;
    if (e.field.rfind("delimiters.uart.", 0) == 0) parts |= kReadUartDelimiter;
    if (e.field.rfind("delimiters.tcp.", 0) == 0) parts |= kReadTcpDelimiter;
    // Virtual COM is not kept in UDP link mode: that needs the port's link mode.
    if (e.field == "tcp_mode" && e.value == "virtual-com") parts |= kReadGetAll;
  }
  return parts;
}

bool plan_edits(const PortView& current, const std::vector<Edit>& edits, bool changed_only,
                EditPlan* plan, std::string* error) {
  plan->target = current;
  plan->changes.clear();
  plan->requests.clear();
  plan->needs_layout = 0;
  PortView& t = plan->target;

  // The link mode first: it decides what the link's other field names mean.
  const int mode = edited_link_mode(edits);
  if (mode != 0) t.link.mode = mode;

  // Each field edited, at its position in the table (several UDP entries per definition).
  struct Edited {
    const FieldDef* def;
    int entry;
  };
  std::vector<Edited> edited;
  for (const Edit& e : edits) {
    std::string pattern, why;
    int entry = 0;
    const FieldDef* def = nullptr;
    if (split_entry(e.field, &pattern, &entry))
      def = resolve(pattern, t.link.mode, &why);
    else
      why = "names no UDP entry 1 to 8";
    if (!def) {
      *error = e.field + " " + why;
      return false;
    }
    // A value the port already holds is not sent, so it need not be one the unit would take
    // (a baud rate of 0 read from a station.ini without the key).
    const bool unchanged = changed_only && field_known(current, *def) &&
                           e.value == field_text(current, def->id, entry) &&
                           e.value == field_text(t, def->id, entry);
    if (!unchanged && !set_field(&t, def->id, entry, e.value, &why)) {
      *error = e.field + ": " + (e.value.empty() ? "an empty value" : e.value) + " is " + why;
      return false;
    }
    bool seen = false;
    for (const Edited& x : edited) seen = seen || (x.def == def && x.entry == entry);
    if (!seen) edited.push_back({def, entry});
  }

  // In the table's order, the UDP entries one after the other.
  const auto order = [](const Edited& x) {
    const int index = static_cast<int>(x.def - kFields);
    int first_entry_field = 0;
    while (kFields[first_entry_field].id != Id::kUdpEnable) ++first_entry_field;
    return x.entry == 0 ? index * 100
                        : first_entry_field * 100 + x.entry * 10 + (index - first_entry_field);
  };
  std::stable_sort(edited.begin(), edited.end(),
                   [&](const Edited& a, const Edited& b) { return order(a) < order(b); });
  unsigned send = 0;
  for (const Edited& x : edited) {
    const FieldDef& def = *x.def;
    FieldChange c;
    c.field = with_entry(def, x.entry);
    c.from = field_known(current, def) ? field_text(current, def.id, x.entry) : "-";
    c.to = field_text(t, def.id, x.entry);
    c.differs = c.from != c.to;
    if (c.differs || !changed_only) send |= def.section;
    plan->changes.push_back(c);
  }

  // What the unit would take without storing it, or store other than asked.
  if ((send & kSendTcpMode) && t.tcp_mode == 1 && (t.link.mode == 3 || t.link.mode == 4)) {
    *error = "tcp_mode: virtual-com is not kept in link mode udp; the unit stores raw";
    return false;
  }
  for (const char* which : {"uart", "tcp"}) {
    const bool uart = which[0] == 'u';
    const Delimiter& d = uart ? t.uart_delimiter : t.tcp_delimiter;
    if ((send & (uart ? kUartDelim : kTcpDelim)) && (d.flag & 0xFF) == 0) {
      *error = std::string("delimiters.") + which + ".flag: " + std::to_string(d.flag) +
               " cannot be sent: the unit takes a delimiter block whose flag has a low byte of "
               "0 as a query and stores nothing; give a flag whose low byte is not 0";
      return false;
    }
  }
  // A link block goes whole: the fields of its layout that the edits leave must be known.
  if ((send & kLink) && !layout_known(t.link, t.link.mode)) {
    int given = 0;
    for (const Edited& x : edited) given += x.def->link_mode == t.link.mode;
    const int all = t.link.mode == 1 ? 4 : t.link.mode == 2 ? 5 : 1 + 4 * kUdpEntries;
    if (given < all) {
      plan->needs_layout = t.link.mode;
      return true;
    }
  }

  // The requests, in the table's order.
  std::vector<Request>& out = plan->requests;
  const auto uc = [](int v) { return static_cast<unsigned char>(v); };
  for (const FieldChange& c : plan->changes) {
    if (changed_only && !c.differs) continue;
    std::string pattern;
    int entry = 0;
    split_entry(c.field, &pattern, &entry);
    std::string unused;
    const FieldDef* def = resolve(pattern, t.link.mode, &unused);
    switch (def->id) {
      case Id::kBaud: {
        Request r{1, std::vector<unsigned char>(4)};
        put_be32(t.serial.baud, r.data.data());
        out.push_back(r);
        break;
      }
      case Id::kDataBits:
        out.push_back({2, {uc(t.serial.data_bits)}});
        break;
      case Id::kParity:
        out.push_back({3, {uc(t.serial.parity)}});
        break;
      case Id::kStopBits:
        out.push_back({4, {uc(t.serial.stop_bits)}});
        break;
      case Id::kFlow:
        out.push_back({5, {uc(t.serial.flow)}});
        break;
      case Id::kInterface:
        out.push_back({90, {uc(t.uart_mode)}});
        break;
      case Id::kSendTcpMode:
        out.push_back({85, {uc(t.tcp_mode)}});
        break;
      case Id::kSysName:
        append_text_request(&out, 3, t.sys_name);
        break;
      case Id::kSysLocation:
        append_text_request(&out, 5, t.sys_location);
        break;
      case Id::kSysContact:
        append_text_request(&out, 7, t.sys_contact);
        break;
      case Id::kNetIp:
        append_net_request(&out, 1, t.ip);
        break;
      case Id::kNetGateway:
        append_net_request(&out, 3, t.gateway);
        break;
      case Id::kNetNetmask:
        append_net_request(&out, 5, t.netmask);
        break;
      default: {  // a field of a block: the whole block, once
        Request r;
        if (def->section == kLink)
          r = Request{92, link_payload(t.link)};
        else if (def->section == kUartDelim)
          r = Request{77, delimiter_block(t.uart_delimiter)};
        else
          r = Request{76, delimiter_block(t.tcp_delimiter)};
        bool sent = false;
        for (const Request& x : out) sent = sent || x.code == r.code;
        if (!sent) out.push_back(r);
      }
    }
    if (holds_frame_end(out.back().data)) {  // across two fields of a block
      *error = unsendable(c.field, c.to);
      return false;
    }
  }
  return true;
}

ReadOutcome check_change_replies(const std::vector<Request>& requests,
                                 const std::vector<ReplyGroup>& groups, std::size_t* failed,
                                 std::string* why) {
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& r = requests[i];
    *failed = i;
    if (i >= groups.size() || groups[i].size() != 1) {
      *why = std::string("no reply to ") + command_name(r.code);
      return ReadOutcome::kUnexpected;
    }
    const ReplyFrame& f = groups[i][0];
    if (f.code == kErrorReplyCode) {
      *why = command_name(r.code);
      return ReadOutcome::kRefused;
    }
    const bool echoed = f.code == r.code + 100 && f.data.size() >= r.data.size() &&
                        std::equal(r.data.begin(), r.data.end(), f.data.begin());
    if (!echoed) {
      *why = std::string(command_name(r.code)) + ": asked for " +
             hex_bytes(r.data.data(), r.data.size(), " ") + ", the unit answered " +
             hex_bytes(f.data.data(), f.data.size(), " ");
      return ReadOutcome::kUnexpected;
    }
  }
  return ReadOutcome::kOk;
}
