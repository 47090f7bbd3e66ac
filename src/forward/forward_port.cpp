#include "forward/forward_port.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "forward/forward_log.h"
#include "forward/serial_line.h"

namespace {

const char* const kLinkNames[] = {"TCP server", "TCP client", "UDP"};

void set_line(ForwardPort* port) {
  const SerialSettings& s = port->settings.serial;
  if (port->settings.line_defaulted)
    forward_log(LOG_WARNING, "COM%d: baud rate or data bits missing: 9600 8N1", port->number);
  int rs485_errno = 0;
  if (apply_serial_settings(port->serial_fd, s, &rs485_errno) != 0)
    forward_log(LOG_ERR, "COM%d: %s: cannot set the line: %s", port->number, port->path,
                std::strerror(errno));
  bool exact;
  line_speed(s.baud_rate, &exact);
  if (!exact)
    forward_log(LOG_WARNING, "COM%d: %d baud is not a rate of the line: the next one below",
                port->number, s.baud_rate);
  // A pseudo-terminal or a plain UART has no RS-485 switch, nor has an emulator: said once.
  if (rs485_errno != 0 && rs485_errno != port->rs485_errno_said)
    forward_log(LOG_NOTICE, "COM%d: RS-485 switch not available (%s); forwarding goes on",
                port->number, std::strerror(rs485_errno));
  port->rs485_errno_said = rs485_errno;
}

bool open_line(ForwardPort* port) {
  if (port->serial_fd >= 0) return true;
  port->serial_fd = open_serial_line(port->path);
  if (port->serial_fd < 0) {
    forward_log(LOG_ERR, "COM%d: cannot open %s: %s", port->number, port->path,
                std::strerror(errno));
    return false;
  }
  return true;
}

void lose_line(ForwardPort* port, const char* why) {
  forward_log(LOG_ERR, "COM%d: %s: %s; opened again at the next reload", port->number,
              port->path, why);
  ::close(port->serial_fd);
  port->serial_fd = -1;
  port->to_line->clear();
}

void read_line(ForwardPort* port) {
  unsigned char buffer[4096];
  const ssize_t n = ::read(port->serial_fd, buffer, sizeof buffer);
  if (n > 0) {
    // Raw passing; packing by delimiter, size and timer takes the bytes here.
    net_send(&port->net, buffer, static_cast<std::size_t>(n));
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    lose_line(port, std::strerror(errno));
  }
}

void write_line(ForwardPort* port) {
  while (!port->to_line->empty()) {
    std::size_t count;
    const unsigned char* bytes = port->to_line->front(&count);
    const ssize_t n = ::write(port->serial_fd, bytes, count);
    if (n < 0) {
      // EAGAIN: the line is full or held by XOFF; the rest waits for POLLOUT.
      if (errno != EAGAIN && errno != EINTR) lose_line(port, std::strerror(errno));
      return;
    }
    port->to_line->drop(static_cast<std::size_t>(n));
  }
}

}  // namespace

int port_init(ForwardPort* port, int number, const char* path) {
  port->number = number;
  std::snprintf(port->path, sizeof port->path, "%s", path);
  port->to_line.reset(new (std::nothrow) ByteQueue(kLineQueueSize));
  return port->to_line && port->to_line->capacity() > 0 ? 0 : -1;
}

void port_apply(ForwardPort* port, const PortSettings& settings) {
  const unsigned changed =
      port->configured ? compare_port_settings(port->settings, settings) : ~0u;
  port->settings = settings;
  port->configured = true;
  const bool reopened = port->serial_fd < 0 && open_line(port);
  if (port->serial_fd >= 0 && (reopened || (changed & kSerialChanged))) set_line(port);
  if (changed & kLinkChanged) {
    const int mode = settings.link.link_mode;
    forward_log(LOG_INFO, "COM%d: %s link", port->number,
                kLinkNames[mode >= 0 && mode <= 2 ? mode : 0]);
    net_start(&port->net, port->number, settings.link);
  } else if (changed & kListenerChanged) {
    net_move_listener(&port->net, settings.link);
  }
}

void port_add_polls(ForwardPort* port, PollSet* set) {
  const unsigned char index = static_cast<unsigned char>(port->number - 1);
  if (port->serial_fd >= 0) {
    short events = net_backlogged(port->net) ? 0 : POLLIN;
    if (!port->to_line->empty()) events |= POLLOUT;
    set->add(port->serial_fd, events, {PollRole::kSerial, index, 0});
  }
  net_add_polls(&port->net, set, port->serial_fd >= 0 ? port->to_line->room() : 0);
}

void port_handle(ForwardPort* port, const pollfd& result, const PollTag& tag) {
  if (tag.role != PollRole::kSerial) {
    net_handle(&port->net, result, tag, port->to_line.get());
    if (port->serial_fd >= 0 && !port->to_line->empty()) write_line(port);
    return;
  }
  if (port->serial_fd < 0) return;
  if (result.revents & POLLOUT) write_line(port);
  if (port->serial_fd >= 0 && (result.revents & POLLIN)) read_line(port);
  // Hung up with nothing to read (a pseudo-terminal whose other end closed): polling it
  // again would only wake at once, for ever.
  if (port->serial_fd >= 0 && (result.revents & (POLLHUP | POLLERR)) &&
      !(result.revents & POLLIN))
    lose_line(port, "hung up");
}

void port_tick(ForwardPort* port, int64_t now) { net_tick(&port->net, now); }

void port_close(ForwardPort* port) {
  net_stop(&port->net);
  if (port->serial_fd >= 0) ::close(port->serial_fd);
  port->serial_fd = -1;
}
