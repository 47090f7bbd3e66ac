// One serial port as the management client sees it: the settings as typed values, decoded
// from the daemon's replies (get-all, the delimiter, name and address queries) and encoded
// back into request payloads. Hides the wire layouts of the link and delimiter blocks and
// the order of the reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "client/control_client.h"

using Ipv4 = std::array<unsigned char, 4>;  // first octet first, as on the wire

struct SerialLine {
  uint32_t baud = 0;
  int data_bits = 0;
  int parity = 0;     // 1 none .. 5 space
  int stop_bits = 0;  // 1 or 2
  int flow = 0;       // 1 none, 2 XON/XOFF, 3 RTS/CTS
};

// The three link layouts. Get-all reports only the one of the current mode; `known` says
// whether a layout was read.
struct TcpServerLayout {
  bool known = false;
  uint16_t local_port = 0;
  int ip_filter = 0;
  Ipv4 source_ip{};
  uint32_t max_connections = 0;
};
struct TcpClientLayout {
  bool known = false;
  Ipv4 dest1_ip{};
  uint16_t dest1_port = 0;
  int dest2_enable = 0;
  Ipv4 dest2_ip{};
  uint16_t dest2_port = 0;
};
struct UdpEntry {
  int enable = 0;
  uint16_t port = 0;
  Ipv4 begin_ip{};
  Ipv4 end_ip{};
};
constexpr int kUdpEntries = 8;
struct UdpLayout {
  bool known = false;
  uint16_t local_port = 0;
  std::array<UdpEntry, kUdpEntries> entries{};
};
struct LinkSettings {
  int mode = 0;  // 1 TCP server, 2 TCP client, 3 UDP, 4 the memory-only fourth mode
  TcpServerLayout server;
  TcpClientLayout client;
  UdpLayout udp;
};

struct Delimiter {
  uint16_t flag = 0;
  uint16_t timer = 0;
  std::vector<unsigned char> chars;  // 0 to 2 delimiter bytes
  uint16_t max_bytes = 0;
};

struct PortView {
  int port = 0;
  SerialLine serial;
  int uart_mode = 0;  // 1 RS-232, 2 RS-485, 3 RS-422
  int tcp_mode = 0;   // 1 Virtual COM, 2 RAW
  LinkSettings link;
  Delimiter uart_delimiter;
  Delimiter tcp_delimiter;
  std::string sys_name, sys_location, sys_contact;
  // The stored addresses of the interface the session came in on; the daemon answers only a
  // session that arrived on eth0.
  bool has_net = false;
  Ipv4 ip{}, gateway{}, netmask{};
  // Kept by the unit in memory only, until the next get-all reloads the port.
  std::string alias;
  int option79 = 0;
  int option99 = 0;
};

// Names of coded values: `name` for options and JSON, `label` for people.
struct NamedCode {
  int code;
  const char* name;
  const char* label;
};
struct NameTable {
  const NamedCode* items;
  int count;
};
extern const NameTable kParityNames;
extern const NameTable kFlowNames;
extern const NameTable kInterfaceNames;
extern const NameTable kTcpModeNames;
extern const NameTable kLinkModeNames;
// nullptr for a code without a name.
const NamedCode* find_code(const NameTable& table, int code);
// 0 for a name not in the table.
int code_for_name(const NameTable& table, const std::string& name);

bool is_supported_baud(uint32_t rate);

std::string format_ipv4(const Ipv4& address);
bool parse_ipv4(const std::string& text, Ipv4* address);
std::string hex_bytes(const unsigned char* bytes, std::size_t count, const char* separator);

// Link mode byte followed by the layout of that mode, as a code-92 set carries it: 12, 14 or
// 91 bytes. Empty for a mode without a layout.
std::vector<unsigned char> link_payload(const LinkSettings& link);
// A code-92 reply (mode byte and layout) into link: the mode and that layout, marked known.
bool decode_link(const std::vector<unsigned char>& data, LinkSettings* link);
// The same, but only the layout: for a layout query, which leaves the port's mode alone.
bool decode_layout(const std::vector<unsigned char>& data, LinkSettings* link);
bool layout_known(const LinkSettings& link, int mode);
constexpr int kDelimiterBlockBytes = 10;
std::vector<unsigned char> delimiter_block(const Delimiter& delimiter);
bool decode_delimiter(const std::vector<unsigned char>& data, Delimiter* delimiter);

// Sub-command byte, text and its NUL, as codes 89 sends texts.
Request text_request(int sub_command, const std::string& text);

// What a read asks for; the memory-only values are read before get-all resets them.
enum ReadPart : unsigned {
  kReadMemoryOnly = 1u << 0,  // alias and the two option bytes
  kReadGetAll = 1u << 1,      // serial line, interface, TCP mode, link
  kReadUartDelimiter = 1u << 2,
  kReadTcpDelimiter = 1u << 3,
  kReadSnmp = 1u << 4,
  kReadNet = 1u << 5,
  kReadAll = (1u << 6) - 1,
};

// Selects the port (code 94), then the reads of the parts, in one buffer. No link-mode query
// and no request that changes anything: a read never makes the unit announce a change.
std::vector<Request> read_requests(int port, unsigned parts);
enum class ReadOutcome { kOk, kRefused, kUnexpected };
// Decodes the groups answering read_requests(port, parts) into view. kRefused (an error
// reply) or kUnexpected (a reply missing or malformed) with the reason in *why; a refused
// address query only leaves has_net false.
ReadOutcome decode_read(const std::vector<ReplyGroup>& groups, int port, unsigned parts,
                        PortView* view, std::string* why);

// The link-layout query (code 92 with mode byte 4 + mode): it reports what station.ini holds
// for a layout, but the unit announces a change for it, so only writers use it.
Request layout_query(int mode);
