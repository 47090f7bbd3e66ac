// The in-memory settings of the two serial ports and the SNMP system texts. Several blocks
// of a PortRecord are held in wire form (little-endian numbers, addresses in dotted order)
// because replies are copied straight out of them; the field order is therefore part of the
// protocol, and the static_asserts below hold it. Hides nothing: plain data.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kPortCount = 2;
constexpr int kLinkSettingsSize = 90;
constexpr int kMode4SettingsSize = 26;
constexpr int kAliasNameSize = 32;
constexpr int kDelimiterBlockSize = 10;
constexpr int kSnmpTextSize = 32;

// Link modes as the record and the wire carry them.
constexpr unsigned char kLinkTcpServer = 1;
constexpr unsigned char kLinkTcpClient = 2;
constexpr unsigned char kLinkUdp = 3;
constexpr unsigned char kLinkMode4 = 4;

// Layout lengths inside link_settings: TCP server 11, TCP client 13, UDP all 90.
constexpr int kTcpServerLayoutSize = 11;
constexpr int kTcpClientLayoutSize = 13;
constexpr int kUdpLayoutSize = 90;

// Offsets inside link_settings, per layout.
namespace tcp_server_layout {
constexpr int kLocalPort = 0;      // LE16
constexpr int kIpFilter = 2;       // 1 byte
constexpr int kSourceIp = 3;       // IPv4
constexpr int kMaxConnection = 7;  // LE32
}  // namespace tcp_server_layout
namespace tcp_client_layout {
constexpr int kDes1Ip = 0;      // IPv4
constexpr int kDes1Port = 4;    // LE16
constexpr int kDes2Enable = 6;  // 1 byte
constexpr int kDes2Ip = 7;      // IPv4
constexpr int kDes2Port = 11;   // LE16
}  // namespace tcp_client_layout
namespace udp_layout {
constexpr int kLocalPort = 0;  // LE16
constexpr int kEntryCount = 8;
constexpr int kEntrySize = 11;
// Entry e (1..8) starts at entry(e); inside it the fields below.
constexpr int entry(int e) { return 2 + kEntrySize * (e - 1); }
constexpr int kEnable = 0;   // 1 byte
constexpr int kDesPort = 1;  // LE16
constexpr int kBeginIp = 3;  // IPv4
constexpr int kEndIp = 7;    // IPv4
}  // namespace udp_layout

// Delimiter block (uart_delimiter, tcp_delimiter).
namespace delimiter_block {
constexpr int kFlag = 0;     // LE16
constexpr int kTimer = 2;    // LE16
constexpr int kChars = 4;    // DelimiterSet: count, first, second, 0
constexpr int kMaxByte = 8;  // LE16
}  // namespace delimiter_block

// The settings view: what current_port_record() hands to the command handlers.
struct PortSettings {
  uint32_t baud_rate;  // plain number; goes to the wire through put_be32
  uint8_t data_bits;
  uint8_t parity;            // 1 None, 2 Odd, 3 Even, 4 Mark, 5 Space
  uint8_t stop_bits;         // 1 or 2
  uint8_t flow_control;      // 1 None, 2 Xon/Xoff, 3 RTS/CTS
  unsigned char fixed98[3];  // 04 03 E7
  unsigned char fixed97[3];  // 04 03 E7
  uint8_t option99;          // memory only
  uint8_t uart_mode;         // 1 RS-232, 2 RS-485, 3 RS-422
  uint8_t value91;           // 5
  uint8_t option79;          // memory only
  uint8_t tcp_mode;          // 1 Virtual COM, 2 RAW
  uint8_t link_mode;         // followed directly by its layout: both leave as one reply
  unsigned char link_settings[kLinkSettingsSize];
  unsigned char mode4_settings[kMode4SettingsSize];
  unsigned char value93[2];
  uint8_t alias_tag;  // 1, followed directly by the alias text: the alias reply's payload
  char alias_name[kAliasNameSize];
  unsigned char uart_delimiter[kDelimiterBlockSize];
  unsigned char tcp_delimiter[kDelimiterBlockSize];
};

struct PortRecord {
  uint32_t port_number;  // 1 for COM1, 2 for COM2
  PortSettings settings;
};

// COM1's record, then COM2's; record n (1-based) is records[n - 1].
struct PortTable {
  PortRecord records[kPortCount];
};

struct SnmpIdentity {
  char sysName[kSnmpTextSize];
  char sysLocation[kSnmpTextSize];
  char sysContact[kSnmpTextSize];
};

// Fields that leave as one payload must lie next to each other with nothing between.
static_assert(offsetof(PortSettings, link_settings) == offsetof(PortSettings, link_mode) + 1);
static_assert(offsetof(PortSettings, mode4_settings) ==
              offsetof(PortSettings, link_settings) + kLinkSettingsSize);
static_assert(offsetof(PortSettings, alias_name) == offsetof(PortSettings, alias_tag) + 1);
static_assert(offsetof(PortSettings, fixed97) == offsetof(PortSettings, fixed98) + 3);
static_assert(offsetof(PortSettings, tcp_delimiter) ==
              offsetof(PortSettings, uart_delimiter) + kDelimiterBlockSize);
// ... and nothing was padded anywhere: the last block ends at byte 191 of the view.
static_assert(offsetof(PortSettings, tcp_delimiter) + kDelimiterBlockSize == 191);
