// One serial port and its link: the line's descriptor and settings, the packers of both
// directions, the bytes waiting for the line, and the network side. A reload hands it new
// settings and it touches only what changed; an RFC 2217 session changes the line for as
// long as a client is connected.
#pragma once

#include <memory>

#include "forward/byte_queue.h"
#include "forward/com_request.h"
#include "forward/net_side.h"
#include "forward/packer.h"
#include "forward/poll_set.h"
#include "forward/port_settings.h"

// Bytes waiting for the line; and network data waiting for the network-side packer or
// send_interval (it leaves in packets, so it need not hold as much).
inline constexpr std::size_t kLineQueueSize = 65536;
inline constexpr std::size_t kStageQueueSize = 16384;
inline constexpr int kSerialPathMax = 256;

struct ForwardPort {
  int number = 0;  // 1 or 2
  char path[kSerialPathMax] = "";
  int serial_fd = -1;
  bool line_full = false;  // the line refused bytes: written to again once poll says POLLOUT
  bool configured = false;
  PortSettings settings{};
  // The line as it is set: station.ini's settings, or a session's while one holds it.
  ComLineState line{};
  bool session_line = false;
  std::unique_ptr<ByteQueue> to_line;
  // Network data before the network-side packer and send_interval, used while either is on.
  std::unique_ptr<ByteQueue> from_net;
  bool stage_net = false;
  Packer uart_packer;  // serial to network
  Packer tcp_packer;   // network to serial
  int64_t last_packet_ms = -1;  // when the last packet went to the line (send_interval)
  int64_t next_open_ms = 0;     // a line that failed to open is tried again then
  int open_errno_said = 0;
  NetSide net;
  int rs485_errno_said = 0;  // the failure of TIOCSRS485 already logged
};

// Sets up the port's number and path. 0, or -1 when its queues cannot be had.
int port_init(ForwardPort* port, int number, const char* path);
// New settings: everything the first time; later only the line, the listener or the link,
// as they changed. A line that could not be opened before is tried again.
void port_apply(ForwardPort* port, const PortSettings& settings);
void port_add_polls(ForwardPort* port, PollSet* set);
void port_handle(ForwardPort* port, const pollfd& result, const PollTag& tag);
void port_tick(ForwardPort* port, int64_t now);
void port_close(ForwardPort* port);
