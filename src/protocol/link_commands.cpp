// Link and transfer-mode commands: the memory-only option byte (99), the two delimiter blocks
// (77 serial side, 76 network side), the serial interface type (90), the TCP mode (85) and
// the link mode with its layout (92). Sets update the current port's record and write the
// matching station.ini keys; the record keeps its blocks in wire form, so numbers are
// converted only on their way to and from the key accessors. The link-mode queries report
// what station.ini holds, not the record.
#include "protocol/link_commands.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "model/port_loader.h"
#include "protocol/command_handlers.h"
#include "protocol/command_table.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "storage/station_ini.h"

namespace {

unsigned refuse(int error_byte, unsigned char* pos, int* size) {
  put_error_reply(pos, size, error_byte);
  return 0;
}

// The four "+COM%d" keys of one delimiter block, in the order they are written.
struct DelimiterKeys {
  int (*flag)(int port, int value);
  int (*timer)(int port, int value);
  int (*chars)(int port, const unsigned char* set);
  int (*maxbyte)(int port, int value);
};

constexpr DelimiterKeys kUartDelimiterKeys = {set_uart_deli_flag, set_uart_deli_timer,
                                              set_uart_deli_char, set_uart_deli_maxbyte};
constexpr DelimiterKeys kTcpDelimiterKeys = {set_tcp_deli_flag, set_tcp_deli_timer,
                                             set_tcp_deli_char, set_tcp_deli_maxbyte};

// The dispatcher has refused every length but a query's (first byte 0) and a whole block's.
unsigned delimiter_command(int code, const DelimiterKeys& keys, unsigned char* block,
                           const unsigned char* data, unsigned char* pos, int* size) {
  unsigned report = 0;
  if (data[0] != 0) {
    std::memcpy(block, data, delimiter::kSize);
    using namespace delimiter;
    const int port = act_g();
    keys.flag(port, static_cast<int>(get_field(block, kFlag)));
    keys.timer(port, static_cast<int>(get_field(block, kTimer)));
    keys.chars(port, field_at(block, kChars));
    keys.maxbyte(port, static_cast<int>(get_field(block, kMaxByte)));
    report = static_cast<unsigned>(code);
  }
  put_reply(pos, size, code, block, delimiter::kSize);
  return report;
}

int number(const unsigned char* block, const LayoutField& f) {
  return static_cast<int>(get_field(block, f));
}

void write_tcp_server_keys(int port, const unsigned char* b) {
  using namespace tcp_server;
  set_com_local_port(port, number(b, kLocalPort));
  set_com_ip_filter(port, number(b, kIpFilter));
  set_com_source_ip(port, field_at(b, kSourceIp));
  set_com_max_connection(port, number(b, kMaxConnection));
}

void write_tcp_client_keys(int port, const unsigned char* b) {
  using namespace tcp_client;
  set_com_des1_ip(port, field_at(b, kDes1Ip));
  set_com_des1_port(port, number(b, kDes1Port));
  set_com_des2_enable(port, number(b, kDes2Enable));
  set_com_des2_ip(port, field_at(b, kDes2Ip));
  set_com_des2_port(port, number(b, kDes2Port));
}

void write_udp_keys(int port, const unsigned char* b) {
  using namespace udp;
  const int local_port = number(b, kLocalPort);
  std::printf("udp iport=%d\n", local_port);
  set_com_udp_local_port(port, local_port);
  for (int e = 1; e <= kEntryCount; ++e) {
    const unsigned char* entry_bytes = b + entry(e);
    const int enable = number(entry_bytes, kEnable);
    std::printf("udp enable=%d\n", enable);
    // Destination 1 is always in use: station.ini has no enable key for it that counts.
    if (e >= 2) set_com_udp_enable(port, enable, e);
    const int des_port = number(entry_bytes, kDesPort);
    std::printf("udp port=%d\n", des_port);
    set_com_udp_des_port(port, des_port, e);
    const unsigned char* be = field_at(entry_bytes, kBeginIp);
    std::printf("udp be ip=%d.%d.%d.%d\n", be[0], be[1], be[2], be[3]);
    set_com_udp_des_be_ip(port, be, e);
    const unsigned char* ed = field_at(entry_bytes, kEndIp);
    std::printf("udp ed ip=%d.%d.%d.%d\n", ed[0], ed[1], ed[2], ed[3]);
    set_com_udp_des_ed_ip(port, ed, e);
  }
}

// The layout of mode q (1..3) as station.ini holds it, after the mode byte; the byte after
// the server and client layouts has no stored value and stays 0.
int read_link_payload(int port, int q, unsigned char* out) {
  std::memset(out, 0, kLinkReplyMax);
  out[0] = static_cast<unsigned char>(q);
  read_link_layout(port, q, out + 1, false);
  return link_reply_length(q);
}

unsigned link_mode_query(int m, unsigned char* pos, int* size) {
  const int port = act_g();
  int q = m - 4;
  if (m == 0) {
    // A missing or unknown word reads as index 0, the TCP server.
    const ValueRow* stored = row_of_index(kLinkModeValues, get_com_link_mode(port));
    q = stored ? stored->wire : kLinkTcpServer;
  }
  unsigned char payload[kLinkReplyMax];
  const int n = read_link_payload(port, q, payload);
  put_reply(pos, size, kLinkMode, payload, n);
  // A query reports a change as well, so the forwarding side hears of it.
  return 1;
}

unsigned link_mode_set(int m, const unsigned char* data, int length, unsigned char* pos,
                       int* size) {
  PortSettings& record = *current_port_record();
  const int port = act_g();
  // A set carries its whole layout, UDP exactly that; longer payloads of the other modes
  // bring bytes that are not used. UDP stores and writes its mode before it looks.
  const bool complete = m == kLinkUdp ? length == link_set_length(m) : length >= link_set_length(m);
  if (!complete && m != kLinkUdp) return refuse(kLinkMode, pos, size);
  record.link_mode = static_cast<uint8_t>(m);
  // station.ini has no word for mode 4: the writer leaves the stored mode as it is.
  set_com_link_mode(port, row_of_wire(kLinkModeValues, m)->ini_index);
  if (!complete) return refuse(kLinkMode, pos, size);

  const int layout = link_set_length(m) - 1;
  switch (m) {
    case kLinkTcpServer:
      std::memcpy(record.link_settings, data + 1, layout);
      write_tcp_server_keys(port, record.link_settings);
      break;
    case kLinkTcpClient:
      std::memcpy(record.link_settings, data + 1, layout);
      write_tcp_client_keys(port, record.link_settings);
      break;
    case kLinkUdp:
      std::memcpy(record.link_settings, data + 1, layout);
      write_udp_keys(port, record.link_settings);
      break;
    default:
      std::memcpy(record.mode4_settings, data + 1, layout);
      break;
  }
  unsigned char payload[kLinkReplyMax];
  const int n = get_link_payload(record, payload);
  put_reply(pos, size, kLinkMode, payload, n);
  return 1;
}

}  // namespace

int get_link_payload(const PortSettings& settings, unsigned char* out) {
  const int n = link_reply_length(settings.link_mode);
  if (n == 0) return 0;
  out[0] = settings.link_mode;
  std::memcpy(out + 1, settings.link_settings, static_cast<size_t>(n - 1));
  return n;
}

unsigned cmd_option99(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  PortSettings& record = *current_port_record();
  unsigned report = 0;
  if (data[0] == 1 || data[0] == 2) {
    record.option99 = data[0];  // memory only
    report = 4;
  }
  put_reply(pos, size, kOption99, &record.option99, 1);
  return report;
}

unsigned cmd_uart_delimiter(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return delimiter_command(kUartDelimiter, kUartDelimiterKeys,
                           current_port_record()->uart_delimiter, data, pos, size);
}

unsigned cmd_tcp_delimiter(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return delimiter_command(kTcpDelimiter, kTcpDelimiterKeys, current_port_record()->tcp_delimiter,
                           data, pos, size);
}

unsigned cmd_uart_mode(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  PortSettings& record = *current_port_record();
  const unsigned char b = data[0];
  unsigned report = 0;
  if (const ValueRow* row = row_of_wire(kInterfaceValues, b)) {
    set_com_uart_mode(act_g(), row->ini_index);
    record.uart_mode = b;
    report = 16;
  }
  put_reply(pos, size, kUartMode, &record.uart_mode, 1);
  return report;
}

unsigned cmd_tcp_mode(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  PortSettings& record = *current_port_record();
  unsigned char b = data[0];
  unsigned report = 0;
  if (row_of_wire(kTcpModeValues, b)) {
    // Virtual COM needs a TCP connection: UDP and mode 4 only carry RAW.
    if (record.link_mode == kLinkUdp || record.link_mode == kLinkMode4) b = kTcpModeRaw;
    record.tcp_mode = b;
    set_com_tcp_mode(act_g(), row_of_wire(kTcpModeValues, b)->ini_index);
    report = 1;
  }
  put_reply(pos, size, kTcpMode, &record.tcp_mode, 1);
  return report;
}

unsigned cmd_link_mode(const unsigned char* data, int length, int, unsigned char* pos, int* size) {
  std::printf("link length = %d\n", length);
  if (!request_length_ok(*find_command(kLinkMode), data, length))
    return refuse(kLinkMode, pos, size);
  const int m = data[0];
  std::printf("set linkmode = %d\n", m);
  if (m == 0 || (m >= 5 && m <= 7)) return link_mode_query(m, pos, size);
  if (m >= 1 && m <= 4) return link_mode_set(m, data, length, pos, size);
  // Modes 8 and above are not answered at all.
  *size = 0;
  return 0;
}
