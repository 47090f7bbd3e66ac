#include "forward/port_settings.h"

#include <cstring>
#include <initializer_list>

#include "storage/inifile.h"
#include "storage/station_ini.h"

namespace {

// A section is there when parse_file finds its header; a key holding a line end can match
// no line, so the search reports the section alone.
bool has_section(const char* text, const char* section) {
  IniPositions at;
  parse_file(section, "\n", text, &at);
  return at.section_start >= 0;
}

void read_packing(int port, bool uart, Packing* p) {
  p->flag = uart ? get_uart_deli_flag(port) : get_tcp_deli_flag(port);
  p->timer = uart ? get_uart_deli_timer(port) : get_tcp_deli_timer(port);
  p->max_bytes = uart ? get_uart_deli_maxbyte(port) : get_tcp_deli_maxbyte(port);
  if (uart)
    get_uart_deli_char(port, p->chars);
  else
    get_tcp_deli_char(port, p->chars);
}

void read_port(int port, PortSettings* s) {
  SerialSettings& line = s->serial;
  line.baud_rate = get_com_baud_rate(port);
  line.data_bits = get_com_data_bit(port);
  line.parity = get_com_parity(port);
  line.two_stop = get_com_stop_bit(port);
  line.flow = get_com_flow_control(port);
  line.ixon = get_com_ixon(port);
  line.ixoff = get_com_ixoff(port);
  line.uart_mode = get_com_uart_mode(port);
  // A line without a speed or a character size cannot be set up; the device's usual 9600 8N1
  // is the one a peer most likely expects.
  s->line_defaulted = line.baud_rate <= 0 || line.data_bits < 5 || line.data_bits > 8;
  if (s->line_defaulted) {
    line.baud_rate = 9600;
    line.data_bits = 8;
    line.parity = kParityNone;
    line.two_stop = 0;
  }

  LinkSettings& link = s->link;
  link.link_mode = get_com_link_mode(port);
  link.tcp_mode = get_com_tcp_mode(port);
  link.local_port = get_com_local_port(port);
  link.ip_filter = get_com_ip_filter(port);
  get_com_source_ip(port, link.source_ip);
  link.max_connection = get_com_max_connection(port);
  get_com_des1_ip(port, link.des1_ip);
  link.des1_port = get_com_des1_port(port);
  link.des2_enable = get_com_des2_enable(port);
  get_com_des2_ip(port, link.des2_ip);
  link.des2_port = get_com_des2_port(port);
  link.udp_local_port = get_com_udp_local_port(port);
  for (int k = 1; k <= kUdpEntries; ++k) {
    UdpEntry& e = link.udp[k - 1];
    e.enable = k == 1 ? 1 : get_com_udp_enable(port, k);
    e.port = get_com_udp_des_port(port, k);
    get_com_udp_des_be_ip(port, e.first, k);
    get_com_udp_des_ed_ip(port, e.last, k);
  }
  read_packing(port, true, &link.uart_packing);
  read_packing(port, false, &link.tcp_packing);
  link.reply_all = get_com_reply_all(port);
  link.transaction_timeout = get_tranaction_timeout(port);
  link.connect_time_out = get_connect_time_out(port);
  link.always_open = get_com_always_open(port);
  link.send_interval = get_send_interval(port);
  s->unused.fifo_flag = get_fifo_flag(port);
  s->unused.transparent_mode = get_com_transparent_mode(port);
  s->unused.special_xon_xoff = get_com_special_xon_xoff(port);
  s->unused.permit_xon_xoff = get_com_permit_xon_xoff(port);
}

bool same_address(const unsigned char* a, const unsigned char* b) {
  return std::memcmp(a, b, 4) == 0;
}

// Only the keys the link mode uses count: the daemon keeps the other modes' keys in the
// file, and a change to them must not drop connections.
bool same_mode_keys(const LinkSettings& a, const LinkSettings& b) {
  switch (a.link_mode) {
    case kTcpServer:
      return a.ip_filter == b.ip_filter && same_address(a.source_ip, b.source_ip) &&
             a.max_connection == b.max_connection;
    case kTcpClient:
      return same_address(a.des1_ip, b.des1_ip) && a.des1_port == b.des1_port &&
             a.des2_enable == b.des2_enable && same_address(a.des2_ip, b.des2_ip) &&
             a.des2_port == b.des2_port;
    default:
      if (a.udp_local_port != b.udp_local_port) return false;
      for (int i = 0; i < kUdpEntries; ++i)
        if (!(a.udp[i] == b.udp[i])) return false;
      return true;
  }
}

}  // namespace

int read_port_settings(const char* text, PortSettings out[kForwardPorts]) {
  for (const char* section : {"COM1", "COM2", "+COM1", "+COM2"})
    if (!has_section(text, section)) return 0;
  hold_station_ini_text(text);
  for (int port = 1; port <= kForwardPorts; ++port) {
    PortSettings s{};
    read_port(port, &s);
    out[port - 1] = s;
  }
  hold_station_ini_text(nullptr);
  return 1;
}

unsigned compare_port_settings(const PortSettings& before, const PortSettings& after) {
  unsigned changed = 0;
  if (!(before.serial == after.serial)) changed |= kSerialChanged;
  const LinkSettings& a = before.link;
  const LinkSettings& b = after.link;
  const bool same_link = a.link_mode == b.link_mode && a.tcp_mode == b.tcp_mode &&
                         same_mode_keys(a, b);
  const bool same_transfer =
      a.uart_packing == b.uart_packing && a.tcp_packing == b.tcp_packing &&
      a.reply_all == b.reply_all && a.transaction_timeout == b.transaction_timeout &&
      a.connect_time_out == b.connect_time_out && a.always_open == b.always_open &&
      a.send_interval == b.send_interval;
  if (!same_link)
    changed |= kLinkChanged;
  else if (a.link_mode == kTcpServer && a.local_port != b.local_port)
    changed |= kListenerChanged;
  if (!same_transfer) changed |= kTransferChanged;
  return changed;
}
