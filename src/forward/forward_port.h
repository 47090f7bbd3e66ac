// One serial port and its link: the line's descriptor and settings, the bytes waiting for
// the line, and the network side. A reload hands it new settings and it touches only what
// changed.
#pragma once

#include <memory>

#include "forward/byte_queue.h"
#include "forward/net_side.h"
#include "forward/poll_set.h"
#include "forward/port_settings.h"

inline constexpr std::size_t kLineQueueSize = 16384;
inline constexpr int kSerialPathMax = 256;

struct ForwardPort {
  int number = 0;  // 1 or 2
  char path[kSerialPathMax] = "";
  int serial_fd = -1;
  bool configured = false;
  PortSettings settings{};
  std::unique_ptr<ByteQueue> to_line;
  NetSide net;
  int rs485_errno_said = 0;  // the failure of TIOCSRS485 already logged
};

// Sets up the port's number and path. 0, or -1 when its queue cannot be had.
int port_init(ForwardPort* port, int number, const char* path);
// New settings: everything the first time; later only the line, the listener or the link,
// as they changed. A line that could not be opened before is tried again.
void port_apply(ForwardPort* port, const PortSettings& settings);
void port_add_polls(ForwardPort* port, PollSet* set);
void port_handle(ForwardPort* port, const pollfd& result, const PollTag& tag);
void port_tick(ForwardPort* port, int64_t now);
void port_close(ForwardPort* port);
