// The show table: one setting a line, a label column and the value.
#include <cstdio>
#include <string>

#include "cli.h"

namespace {

void line(std::string* out, const std::string& label, const std::string& value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-20s", label.c_str());
  *out += buf + value + "\n";
}

std::string label_of(const NameTable& t, int code) {
  const NamedCode* c = find_code(t, code);
  return c ? c->label : "unknown (" + std::to_string(code) + ")";
}

std::string on_off(int value) {
  return value == 0 ? "off" : value == 1 ? "on" : std::to_string(value);
}

std::string delimiter_text(const Delimiter& d) {
  const std::string chars = d.chars.empty() ? "none" : hex_bytes(d.chars.data(), d.chars.size(), " ");
  return "flag " + std::to_string(d.flag) + ", timer " + std::to_string(d.timer) +
         ", characters " + chars + ", max bytes " + std::to_string(d.max_bytes);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string show_table(const PortView& v) {
  std::string out;
  const SerialLine& s = v.serial;
  line(&out, "Port", "COM" + std::to_string(v.port));
  line(&out, "Serial line",
       std::to_string(s.baud) + " baud, " + std::to_string(s.data_bits) + " data bits, parity " +
           label_of(kParityNames, s.parity) + ", " + std::to_string(s.stop_bits) +
           (s.stop_bits == 1 ? " stop bit" : " stop bits") + ", flow control " +
           label_of(kFlowNames, s.flow));
  line(&out, "Interface", label_of(kInterfaceNames, v.uart_mode));
  line(&out, "TCP mode", label_of(kTcpModeNames, v.tcp_mode));
  line(&out, "Link mode", label_of(kLinkModeNames, v.link.mode));
  if (v.link.mode == 1) {
    const TcpServerLayout& l = v.link.server;
    line(&out, "  local port", std::to_string(l.local_port));
    line(&out, "  IP filter", on_off(l.ip_filter));
    line(&out, "  source address", format_ipv4(l.source_ip));
    line(&out, "  max connections", std::to_string(l.max_connections));
  } else if (v.link.mode == 2) {
    const TcpClientLayout& l = v.link.client;
    line(&out, "  destination 1", format_ipv4(l.dest1_ip) + " port " + std::to_string(l.dest1_port));
    line(&out, "  destination 2", on_off(l.dest2_enable) + ", " + format_ipv4(l.dest2_ip) +
                                      " port " + std::to_string(l.dest2_port));
  } else if (v.link.mode == 3) {
    line(&out, "  local port", std::to_string(v.link.udp.local_port));
    out += "  entry  enabled  port   first address    last address\n";
    for (int i = 0; i < kUdpEntries; ++i) {
      const UdpEntry& e = v.link.udp.entries[i];
      char buf[96];
      std::snprintf(buf, sizeof buf, "  %-6d %-8s %-6u %-16s %s\n", i + 1, on_off(e.enable).c_str(),
                    static_cast<unsigned>(e.port), format_ipv4(e.begin_ip).c_str(),
                    format_ipv4(e.end_ip).c_str());
      out += buf;
    }
  }
  line(&out, "UART delimiter", delimiter_text(v.uart_delimiter));
  line(&out, "TCP delimiter", delimiter_text(v.tcp_delimiter));
  line(&out, "SNMP name", quoted(v.sys_name));
  line(&out, "SNMP location", quoted(v.sys_location));
  line(&out, "SNMP contact", quoted(v.sys_contact));
  if (v.has_net) {
    line(&out, "Address (eth0)", format_ipv4(v.ip));
    line(&out, "Gateway (eth0)", format_ipv4(v.gateway));
    line(&out, "Netmask (eth0)", format_ipv4(v.netmask));
  } else {
    line(&out, "Stored addresses", "shown only to a session that arrives on the unit's eth0");
  }
  line(&out, "Alias", quoted(v.alias) + "  [memory only]");
  line(&out, "Option 79", std::to_string(v.option79) + "  [memory only]");
  line(&out, "Option 99", std::to_string(v.option99) + "  [memory only]");
  out += "[memory only]: kept by the unit until its next get-all, which this show ran\n";
  return out;
}
