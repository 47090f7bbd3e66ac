// The forwarding settings of both serial ports, as station.ini holds them, read from one
// state of the file, and the comparison of two readings that tells the forwarder what it
// must touch (the serial line, the listener, the whole link) so it leaves the rest alone.
#pragma once

#include <cstdint>

inline constexpr int kForwardPorts = 2;
inline constexpr int kUdpEntries = 8;

// Codes as station.ini's words give them (the accessors' codes).
enum LinkMode : int { kTcpServer = 0, kTcpClient = 1, kUdp = 2 };
enum UartMode : int { kRs232 = 0, kRs422 = 1, kRs485 = 2 };
enum Parity : int { kParityNone = 0, kParityOdd, kParityEven, kParityMark, kParitySpace };
enum FlowControl : int { kFlowNone = 0, kFlowXonXoff = 1, kFlowRtsCts = 2 };

struct SerialSettings {
  int baud_rate;
  int data_bits;
  int parity;      // Parity
  int two_stop;    // com_stop_bit: 1 for "2", else 0
  int flow;        // FlowControl
  int ixon;        // com_ixon, nonzero: XON/XOFF on output
  int ixoff;       // com_ixoff, nonzero: XON/XOFF on input
  int uart_mode;   // UartMode
  bool operator==(const SerialSettings&) const = default;
};

struct UdpEntry {
  int enable;  // entry 1 always 1
  int port;
  unsigned char first[4];  // range of addresses, first octet first
  unsigned char last[4];
  bool operator==(const UdpEntry&) const = default;
};

// What a packer reads (uart_deli_* serial to network, tcp_deli_* network to serial).
struct Packing {
  int flag;
  int timer;
  unsigned char chars[4];  // DelimiterSet
  int max_bytes;
  bool operator==(const Packing&) const = default;
};

struct LinkSettings {
  int link_mode;  // LinkMode
  int tcp_mode;   // 0 RAW, 1 Virtual_COM, 2 Reverse_Telnet
  // TCP server
  int local_port;
  int ip_filter;
  unsigned char source_ip[4];
  int max_connection;
  // TCP client
  unsigned char des1_ip[4];
  int des1_port;
  int des2_enable;
  unsigned char des2_ip[4];
  int des2_port;
  // UDP
  int udp_local_port;
  UdpEntry udp[kUdpEntries];
  // The remaining keys of the port.
  Packing uart_packing;
  Packing tcp_packing;
  int reply_all;
  int transaction_timeout;
  int connect_time_out;
  int always_open;
  int send_interval;
};

// Keys of a port the forwarder has no use for: said in the log when not at their defaults
// (all 0), so that nobody takes them for applied.
struct UnusedKeys {
  int fifo_flag;
  int transparent_mode;
  int special_xon_xoff;
  int permit_xon_xoff;
  bool operator==(const UnusedKeys&) const = default;
};

struct PortSettings {
  SerialSettings serial;
  LinkSettings link;
  UnusedKeys unused;
  // Missing baud rate or data bits, taken as 9600 8N1: said once per reading.
  bool line_defaulted;
};

// Reads both ports from a station.ini text loaded once. 1 when read; 0 when the text lacks
// one of the sections COM1, COM2, +COM1, +COM2: another process is in the middle of
// rewriting the file (the INI library rewrites it in place), so the caller keeps its
// settings and reads again shortly. out is left untouched then.
int read_port_settings(const char* text, PortSettings out[kForwardPorts]);

// What differs between two readings of one port, as bits.
inline constexpr unsigned kSerialChanged = 1;    // termios / RS-485 only: connections stay
inline constexpr unsigned kListenerChanged = 2;  // only the local port the link listens on
inline constexpr unsigned kLinkChanged = 4;      // mode or endpoints of the link: rebuilt whole
inline constexpr unsigned kTransferChanged = 8;  // packing and timing keys: connections stay
unsigned compare_port_settings(const PortSettings& before, const PortSettings& after);
