// Link and transfer-mode commands: the memory-only option byte (99), the two delimiter blocks
// (77 serial side, 76 network side), the serial interface type (90), the TCP mode (85) and
// the link mode with its layout (92). Sets update the current port's record and write the
// matching station.ini keys; the record keeps its blocks in wire form (LE16/LE32), so numbers
// are converted only on their way to and from the key accessors. The link-mode queries report
// what station.ini holds, not the record.
#include "protocol/link_commands.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "model/port_loader.h"
#include "protocol/command_handlers.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "storage/station_ini.h"

namespace {

constexpr int kOption99Code = 99;
constexpr int kUartDelimiterCode = 77;
// The serial-side delimiter command names 98 in its error reply, not its own code.
constexpr int kUartDelimiterErrorByte = 98;
constexpr int kTcpDelimiterCode = 76;
constexpr int kUartModeCode = 90;
constexpr int kTcpModeCode = 85;
constexpr int kLinkModeCode = 92;

// Payload lengths code 92 admits: the mode byte alone, and the mode byte with a layout.
constexpr int kLinkLengths[] = {1, 9, 12, 14, 27, 91};

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

unsigned delimiter_command(int code, int error_byte, const DelimiterKeys& keys,
                           unsigned char* block, const unsigned char* data, int length,
                           unsigned char* pos, int* size) {
  // A frame without a first byte cannot be a query; it is refused like any wrong length.
  if (length < 1) return refuse(error_byte, pos, size);
  unsigned report = 0;
  if (data[0] != 0) {
    if (length != kDelimiterBlockSize) return refuse(error_byte, pos, size);
    std::memcpy(block, data, kDelimiterBlockSize);
    using namespace delimiter_block;
    const int port = act_g();
    keys.flag(port, get_le16(block + kFlag));
    keys.timer(port, get_le16(block + kTimer));
    keys.chars(port, block + kChars);
    keys.maxbyte(port, get_le16(block + kMaxByte));
    report = static_cast<unsigned>(code);
  }
  put_reply(pos, size, code, block, kDelimiterBlockSize);
  return report;
}

bool admitted_link_length(int length) {
  for (int n : kLinkLengths)
    if (n == length) return true;
  return false;
}

// Bytes a set of mode m needs: the mode byte and the mode's layout.
int link_set_length(int m) {
  switch (m) {
    case kLinkTcpServer:
      return 1 + kTcpServerLayoutSize;
    case kLinkTcpClient:
      return 1 + kTcpClientLayoutSize;
    case kLinkUdp:
      return 1 + kUdpLayoutSize;
    default:
      return 1 + kMode4SettingsSize;
  }
}

void write_tcp_server_keys(int port, const unsigned char* b) {
  using namespace tcp_server_layout;
  set_com_local_port(port, get_le16(b + kLocalPort));
  set_com_ip_filter(port, b[kIpFilter]);
  set_com_source_ip(port, b + kSourceIp);
  set_com_max_connection(port, static_cast<int>(get_le32(b + kMaxConnection)));
}

void write_tcp_client_keys(int port, const unsigned char* b) {
  using namespace tcp_client_layout;
  set_com_des1_ip(port, b + kDes1Ip);
  set_com_des1_port(port, get_le16(b + kDes1Port));
  set_com_des2_enable(port, b[kDes2Enable]);
  set_com_des2_ip(port, b + kDes2Ip);
  set_com_des2_port(port, get_le16(b + kDes2Port));
}

void write_udp_keys(int port, const unsigned char* b) {
  using namespace udp_layout;
  const int local_port = get_le16(b + kLocalPort);
  std::printf("udp iport=%d\n", local_port);
  set_com_udp_local_port(port, local_port);
  for (int e = 1; e <= kEntryCount; ++e) {
    const unsigned char* entry_bytes = b + entry(e);
    std::printf("udp enable=%d\n", entry_bytes[kEnable]);
    // Destination 1 is always in use: station.ini has no enable key for it that counts.
    if (e >= 2) set_com_udp_enable(port, entry_bytes[kEnable], e);
    const int des_port = get_le16(entry_bytes + kDesPort);
    std::printf("udp port=%d\n", des_port);
    set_com_udp_des_port(port, des_port, e);
    const unsigned char* be = entry_bytes + kBeginIp;
    std::printf("udp be ip=%d.%d.%d.%d\n", be[0], be[1], be[2], be[3]);
    set_com_udp_des_be_ip(port, be, e);
    const unsigned char* ed = entry_bytes + kEndIp;
    std::printf("udp ed ip=%d.%d.%d.%d\n", ed[0], ed[1], ed[2], ed[3]);
    set_com_udp_des_ed_ip(port, ed, e);
  }
}

// The layout of mode q (1..3) as station.ini holds it, after the mode byte; the byte after
// the server and client layouts has no stored value and stays 0.
int read_link_payload(int port, int q, unsigned char* out) {
  std::memset(out, 0, kLinkPayloadMax);
  out[0] = static_cast<unsigned char>(q);
  read_link_layout(port, q, out + 1, false);
  return link_payload_length(q);
}

unsigned link_mode_query(int m, unsigned char* pos, int* size) {
  const int port = act_g();
  int q = m - 4;
  if (m == 0) {
    // A missing or unknown word reads as index 0, the TCP server.
    q = get_com_link_mode(port) + 1;
    if (q < kLinkTcpServer || q > kLinkUdp) q = kLinkTcpServer;
  }
  unsigned char payload[kLinkPayloadMax];
  const int n = read_link_payload(port, q, payload);
  put_reply(pos, size, kLinkModeCode, payload, n);
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
  if (!complete && m != kLinkUdp) return refuse(kLinkModeCode, pos, size);
  record.link_mode = static_cast<uint8_t>(m);
  // station.ini has no word for mode 4: the writer leaves the stored mode as it is.
  set_com_link_mode(port, m - 1);
  if (!complete) return refuse(kLinkModeCode, pos, size);

  switch (m) {
    case kLinkTcpServer:
      std::memcpy(record.link_settings, data + 1, kTcpServerLayoutSize);
      write_tcp_server_keys(port, record.link_settings);
      break;
    case kLinkTcpClient:
      std::memcpy(record.link_settings, data + 1, kTcpClientLayoutSize);
      write_tcp_client_keys(port, record.link_settings);
      break;
    case kLinkUdp:
      std::memcpy(record.link_settings, data + 1, kUdpLayoutSize);
      write_udp_keys(port, record.link_settings);
      break;
    default:
      std::memcpy(record.mode4_settings, data + 1, kMode4SettingsSize);
      break;
  }
  unsigned char payload[kLinkPayloadMax];
  const int n = get_link_payload(record, payload);
  put_reply(pos, size, kLinkModeCode, payload, n);
  return 1;
}

}  // namespace

int link_payload_length(int link_mode) {
  switch (link_mode) {
    case kLinkTcpServer:
      return 1 + kTcpServerLayoutSize + 1;
    case kLinkTcpClient:
      return 1 + kTcpClientLayoutSize + 1;
    case kLinkUdp:
      return 1 + kUdpLayoutSize;
    default:
      return 0;
  }
}

int get_link_payload(const PortSettings& settings, unsigned char* out) {
  const int n = link_payload_length(settings.link_mode);
  if (n == 0) return 0;
  out[0] = settings.link_mode;
  std::memcpy(out + 1, settings.link_settings, static_cast<size_t>(n - 1));
  return n;
}

unsigned cmd_option99(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kOption99Code, pos, size);
  PortSettings& record = *current_port_record();
  unsigned report = 0;
  if (data[0] == 1 || data[0] == 2) {
    record.option99 = data[0];  // memory only
    report = 4;
  }
  put_reply(pos, size, kOption99Code, &record.option99, 1);
  return report;
}

unsigned cmd_uart_delimiter(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return delimiter_command(kUartDelimiterCode, kUartDelimiterErrorByte, kUartDelimiterKeys,
                           current_port_record()->uart_delimiter, data, length, pos, size);
}

unsigned cmd_tcp_delimiter(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return delimiter_command(kTcpDelimiterCode, kTcpDelimiterCode, kTcpDelimiterKeys,
                           current_port_record()->tcp_delimiter, data, length, pos, size);
}

unsigned cmd_uart_mode(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kUartModeCode, pos, size);
  PortSettings& record = *current_port_record();
  const unsigned char b = data[0];
  unsigned report = 0;
  if (b >= 1 && b <= 3) {
    // station.ini lists "RS-232", "RS-422", "RS-485"; the wire codes 1 RS-232, 2 RS-485,
    // 3 RS-422.
    constexpr int kIndexOfCode[] = {0, 0, 2, 1};
    set_com_uart_mode(act_g(), kIndexOfCode[b]);
    record.uart_mode = b;
    report = 16;
  }
  put_reply(pos, size, kUartModeCode, &record.uart_mode, 1);
  return report;
}

unsigned cmd_tcp_mode(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kTcpModeCode, pos, size);
  PortSettings& record = *current_port_record();
  unsigned char b = data[0];
  unsigned report = 0;
  if (b == 1 || b == 2) {
    // Virtual COM needs a TCP connection: UDP and mode 4 only carry RAW.
    if (record.link_mode == kLinkUdp || record.link_mode == kLinkMode4) b = 2;
    record.tcp_mode = b;
    set_com_tcp_mode(act_g(), b == 2 ? 0 : 1);  // "RAW" or "Virtual_COM"
    report = 1;
  }
  put_reply(pos, size, kTcpModeCode, &record.tcp_mode, 1);
  return report;
}

unsigned cmd_link_mode(const unsigned char* data, int length, unsigned char* pos, int* size) {
  std::printf("link length = %d\n", length);
  if (!admitted_link_length(length)) return refuse(kLinkModeCode, pos, size);
  const int m = data[0];
  std::printf("set linkmode = %d\n", m);
  if (m == 0 || (m >= 5 && m <= 7)) return link_mode_query(m, pos, size);
  if (m >= 1 && m <= 4) return link_mode_set(m, data, length, pos, size);
  // Modes 8 and above are not answered at all.
  *size = 0;
  return 0;
}
