// The in-memory settings of the two serial ports and the SNMP system texts. Several blocks
// of a PortRecord are held in wire form (the layouts of wire_format.h) because replies are
// copied straight out of them; the field order is therefore part of the protocol, and the
// static_asserts below hold it. Hides nothing: plain data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/wire_format.h"

constexpr int kPortCount = 2;
constexpr int kLinkSettingsSize = udp::kSize;  // the longest layout
constexpr int kMode4SettingsSize = kMode4Size;
constexpr int kAliasNameSize = 32;
constexpr int kDelimiterBlockSize = delimiter::kSize;
constexpr int kSnmpTextSize = 32;

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
