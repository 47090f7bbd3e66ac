// The control protocol's facts, written once for the daemon and the management client: the
// port and greeting, the limits of a buffer, the frame bytes, the command codes, the baud
// rates, the get-all series, the sub-commands of codes 88 and 89, the coded values with their
// station.ini index and their names, and the link and delimiter layouts as field rows. A leaf:
// it depends on nothing of the system, so either side can read it without the other.
#pragma once

#include <cstdint>

#include "common/byte_order.h"

// The control connection.
inline constexpr uint16_t kControlPort = 55960;
inline constexpr char kGreeting[] = "  ";  // two spaces, to every client the loop takes
inline constexpr int kGreetingSize = 2;
// The loop reads at most this many bytes at once and never joins two reads; the replies to
// one read leave in one answer of at most this many bytes.
inline constexpr int kReceiveBufferSize = 1024;
inline constexpr int kAnswerBufferSize = 1024;

// A frame: IAC SB 44 code data IAC SE. Replies carry the request's code + 100; the error
// reply carries code 80 + 100 and one byte naming the refused request.
inline constexpr unsigned char kIac = 0xFF;
inline constexpr unsigned char kSb = 0xFA;
inline constexpr unsigned char kSe = 0xF0;
inline constexpr unsigned char kComPortOption = 0x2C;
inline constexpr int kFrameOverhead = 6;  // head (3), code, tail (2)
inline constexpr int kReplyOffset = 100;

// The command codes, named by the command table.
enum CommandCode : int {
#define COMMAND(code, id, name, request, check, reply, bytes, error, route, handler) id = code,
#include "protocol/commands.def"
#undef COMMAND
};

inline constexpr int kErrorReplyCode = kErrorCode + kReplyOffset;

// The rates the serial ports support, in the order whose position baud_rate_index reports.
inline constexpr int kBaudRateCount = 15;
inline constexpr uint32_t kBaudRates[kBaudRateCount] = {300,    600,    1200,   2400,   4800,
                                                        9600,   19200,  38400,  57600,  115200,
                                                        230400, 460800, 500000, 576000, 921600};

// The reply frames of get-all, by request code, in the order they leave.
inline constexpr int kGetAllSeries[] = {kSetBaudrate, kSetDatasize, kSetParity,    kSetStopsize,
                                        kSetControl,  kTcpMode,     kNamePassword, kUartMode,
                                        kValue91,     kLinkMode,    kValue93,      kOption99,
                                        kFixed98,     kFixed97,     kEndOfSeries};
inline constexpr int kGetAllFrames = sizeof kGetAllSeries / sizeof kGetAllSeries[0];

// Sub-commands of code 89: even numbers read, odd ones store; the reply's tag is the odd one.
namespace name_password {
inline constexpr int kAliasQuery = 0;
inline constexpr int kAlias = 1;  // memory only, until the next get-all
inline constexpr int kSysNameQuery = 2;
inline constexpr int kSysName = 3;
inline constexpr int kSysLocationQuery = 4;
inline constexpr int kSysLocation = 5;
inline constexpr int kSysContactQuery = 6;
inline constexpr int kSysContact = 7;
inline constexpr int kPassword = 9;
inline constexpr int kTextMax = 31;     // alias and SNMP texts keep 31 characters and a NUL
inline constexpr int kPasswordMax = 8;  // eePassword
}  // namespace name_password

// Sub-commands of code 88, on the interface the session arrived on; the reply's tag is the
// odd one, followed by the 4 address bytes the EEPROM gives back.
namespace net_address {
inline constexpr int kIpQuery = 0;
inline constexpr int kIp = 1;
inline constexpr int kGatewayQuery = 2;
inline constexpr int kGateway = 3;
inline constexpr int kNetmaskQuery = 4;
inline constexpr int kNetmask = 5;
inline constexpr int kAddressSize = 4;
}  // namespace net_address

// A coded value: its wire code, the index of its word in station.ini, its name for options
// and JSON, its label for people.
struct ValueRow {
  int wire;
  int ini_index;
  const char* name;
  const char* label;
};
struct ValueTable {
  const ValueRow* rows;
  int count;
};

inline constexpr ValueRow kParityRows[] = {{1, 0, "none", "none"},
                                           {2, 1, "odd", "odd"},
                                           {3, 2, "even", "even"},
                                           {4, 3, "mark", "mark"},
                                           {5, 4, "space", "space"}};
inline constexpr ValueRow kStopBitRows[] = {{1, 0, "1", "1"}, {2, 1, "2", "2"}};
inline constexpr ValueRow kFlowRows[] = {
    {1, 0, "none", "none"}, {2, 1, "xon-xoff", "XON/XOFF"}, {3, 2, "rts-cts", "RTS/CTS"}};
// station.ini lists "RS-232", "RS-422", "RS-485"; the wire codes RS-485 before RS-422.
inline constexpr ValueRow kInterfaceRows[] = {
    {1, 0, "rs232", "RS-232"}, {2, 2, "rs485", "RS-485"}, {3, 1, "rs422", "RS-422"}};
// station.ini's third word, "Reverse_Telnet", has no wire code: it loads as RAW.
inline constexpr ValueRow kTcpModeRows[] = {{1, 1, "virtual-com", "Virtual COM"},
                                            {2, 0, "raw", "RAW"}};
// Mode 4 lives in memory only: station.ini has no word for its index.
inline constexpr ValueRow kLinkModeRows[] = {{1, 0, "tcp-server", "TCP server"},
                                             {2, 1, "tcp-client", "TCP client"},
                                             {3, 2, "udp", "UDP"},
                                             {4, 3, "mode-4", "mode 4 (memory only)"}};

template <int N>
constexpr ValueTable value_table(const ValueRow (&rows)[N]) {
  return ValueTable{rows, N};
}
inline constexpr ValueTable kParityValues = value_table(kParityRows);
inline constexpr ValueTable kStopBitValues = value_table(kStopBitRows);
inline constexpr ValueTable kFlowValues = value_table(kFlowRows);
inline constexpr ValueTable kInterfaceValues = value_table(kInterfaceRows);
inline constexpr ValueTable kTcpModeValues = value_table(kTcpModeRows);
inline constexpr ValueTable kLinkModeValues = value_table(kLinkModeRows);

// The row of a wire code or of a station.ini index; nullptr when there is none.
constexpr const ValueRow* row_of_wire(const ValueTable& t, int wire) {
  for (int i = 0; i < t.count; ++i)
    if (t.rows[i].wire == wire) return &t.rows[i];
  return nullptr;
}
constexpr const ValueRow* row_of_index(const ValueTable& t, int ini_index) {
  for (int i = 0; i < t.count; ++i)
    if (t.rows[i].ini_index == ini_index) return &t.rows[i];
  return nullptr;
}

// TCP modes as the record and the wire carry them.
inline constexpr int kTcpModeVirtualCom = 1;
inline constexpr int kTcpModeRaw = 2;

// Link modes as the record and the wire carry them.
inline constexpr int kLinkTcpServer = 1;
inline constexpr int kLinkTcpClient = 2;
inline constexpr int kLinkUdp = 3;
inline constexpr int kLinkMode4 = 4;
// Payload lengths code 92 admits: the mode byte alone, and the mode byte with a layout.
inline constexpr int kLinkRequestLengths[] = {1, 9, 12, 14, 27, 91};

// One field of a block: its name (as the client's documents name it), where it lies and how
// its bytes read. Numbers in link and delimiter blocks are little-endian.
enum class FieldForm { kByte, kLe16, kLe32, kIpv4, kDelimiterSet };
struct LayoutField {
  const char* name;
  int offset;
  FieldForm form;
};
constexpr int form_width(FieldForm form) {
  return form == FieldForm::kByte ? 1 : form == FieldForm::kLe16 ? 2 : 4;
}
// True when the fields follow one another from offset 0 and fill size bytes.
template <int N>
constexpr bool fills(const LayoutField (&fields)[N], int size) {
  int at = 0;
  for (const LayoutField& f : fields) {
    if (f.offset != at) return false;
    at += form_width(f.form);
  }
  return at == size;
}

// The layouts inside a port's link block; on the wire each follows the mode byte.
namespace tcp_server {
inline constexpr LayoutField kLocalPort{"local_port", 0, FieldForm::kLe16};
inline constexpr LayoutField kIpFilter{"ip_filter", 2, FieldForm::kByte};
inline constexpr LayoutField kSourceIp{"source_ip", 3, FieldForm::kIpv4};
inline constexpr LayoutField kMaxConnection{"max_connections", 7, FieldForm::kLe32};
inline constexpr LayoutField kFields[] = {kLocalPort, kIpFilter, kSourceIp, kMaxConnection};
inline constexpr int kSize = 11;
static_assert(fills(kFields, kSize));
}  // namespace tcp_server

namespace tcp_client {
inline constexpr LayoutField kDes1Ip{"dest1_ip", 0, FieldForm::kIpv4};
inline constexpr LayoutField kDes1Port{"dest1_port", 4, FieldForm::kLe16};
inline constexpr LayoutField kDes2Enable{"dest2_enable", 6, FieldForm::kByte};
inline constexpr LayoutField kDes2Ip{"dest2_ip", 7, FieldForm::kIpv4};
inline constexpr LayoutField kDes2Port{"dest2_port", 11, FieldForm::kLe16};
inline constexpr LayoutField kFields[] = {kDes1Ip, kDes1Port, kDes2Enable, kDes2Ip, kDes2Port};
inline constexpr int kSize = 13;
static_assert(fills(kFields, kSize));
}  // namespace tcp_client

// UDP: the local port, then exactly 8 destination entries; entry 1 is always in use.
namespace udp {
inline constexpr LayoutField kLocalPort{"local_port", 0, FieldForm::kLe16};
inline constexpr int kEntryCount = 8;
inline constexpr int kEntrySize = 11;
// Entry e (1..8) starts at entry(e); inside it the fields below.
constexpr int entry(int e) { return 2 + kEntrySize * (e - 1); }
inline constexpr LayoutField kEnable{"enable", 0, FieldForm::kByte};
inline constexpr LayoutField kDesPort{"port", 1, FieldForm::kLe16};
inline constexpr LayoutField kBeginIp{"begin_ip", 3, FieldForm::kIpv4};
inline constexpr LayoutField kEndIp{"end_ip", 7, FieldForm::kIpv4};
inline constexpr LayoutField kEntryFields[] = {kEnable, kDesPort, kBeginIp, kEndIp};
inline constexpr int kSize = entry(kEntryCount + 1);
static_assert(fills(kEntryFields, kEntrySize) && kSize == 90);
}  // namespace udp

// Mode 4's block: opaque, kept in memory, never reported.
inline constexpr int kMode4Size = 26;

// The 10-byte delimiter block of codes 77 (serial side) and 76 (network side). Its DelimiterSet
// is the count (0..2), the first and second delimiter byte, and a zero byte.
namespace delimiter {
inline constexpr LayoutField kFlag{"flag", 0, FieldForm::kLe16};
inline constexpr LayoutField kTimer{"timer", 2, FieldForm::kLe16};
inline constexpr LayoutField kChars{"chars", 4, FieldForm::kDelimiterSet};
inline constexpr LayoutField kMaxByte{"max_bytes", 8, FieldForm::kLe16};
inline constexpr LayoutField kFields[] = {kFlag, kTimer, kChars, kMaxByte};
inline constexpr int kSize = 10;
static_assert(fills(kFields, kSize));
}  // namespace delimiter

// Bytes of a link reply for a link mode: the mode byte and its layout, one byte more for the
// TCP server and client; 0 for mode 4, whose layout is never reported.
constexpr int link_reply_length(int link_mode) {
  return link_mode == kLinkTcpServer   ? 1 + tcp_server::kSize + 1
         : link_mode == kLinkTcpClient ? 1 + tcp_client::kSize + 1
         : link_mode == kLinkUdp       ? 1 + udp::kSize
                                       : 0;
}
// Bytes of a link set: the mode byte and the mode's layout.
constexpr int link_set_length(int link_mode) {
  return link_mode == kLinkTcpServer   ? 1 + tcp_server::kSize
         : link_mode == kLinkTcpClient ? 1 + tcp_client::kSize
         : link_mode == kLinkUdp       ? 1 + udp::kSize
                                       : 1 + kMode4Size;
}
inline constexpr int kLinkReplyMax = 1 + udp::kSize;

// A field's place in its block, and the number a byte, LE16 or LE32 field holds.
constexpr unsigned char* field_at(unsigned char* block, const LayoutField& f) {
  return block + f.offset;
}
constexpr const unsigned char* field_at(const unsigned char* block, const LayoutField& f) {
  return block + f.offset;
}
inline uint32_t get_field(const unsigned char* block, const LayoutField& f) {
  const unsigned char* p = block + f.offset;
  return f.form == FieldForm::kByte ? p[0] : f.form == FieldForm::kLe16 ? get_le16(p) : get_le32(p);
}
inline void put_field(unsigned char* block, const LayoutField& f, uint32_t value) {
  unsigned char* p = block + f.offset;
  if (f.form == FieldForm::kByte)
    p[0] = static_cast<unsigned char>(value);
  else if (f.form == FieldForm::kLe16)
    put_le16(static_cast<uint16_t>(value), p);
  else
    put_le32(value, p);
}
