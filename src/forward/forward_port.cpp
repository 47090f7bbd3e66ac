#include "forward/forward_port.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "forward/forward_log.h"
#include "forward/serial_line.h"

namespace {

const char* const kLinkNames[] = {"TCP server", "TCP client", "UDP"};
// A line that cannot be opened is tried again this often while a peer wants it.
constexpr int kReopenMs = 1000;

// The packers follow the line: a timer in character times depends on its rate and framing.
void set_rules(ForwardPort* port) {
  const LinkSettings& link = port->settings.link;
  port->uart_packer.set_rule(make_pack_rule(link.uart_packing, port->line.line));
  const PackRule tcp = make_pack_rule(link.tcp_packing, port->line.line);
  if (tcp.on) {
    port->tcp_packer.set_rule(tcp);
  } else {
    // Without packing, send_interval still spaces what the network sent, one read (up to a
    // packet's size) at a time.
    port->tcp_packer.set_rule(PackRule{false, 0, {0, 0}, 0, kPackMax});
  }
  const bool stage = tcp.on || link.send_interval > 0;
  if (port->stage_net && !stage) {
    // What waits in the stage goes to the line as it is.
    port->to_line->push(port->tcp_packer.data(), port->tcp_packer.size());
    port->tcp_packer.clear();
    while (!port->from_net->empty()) {
      std::size_t count;
      const unsigned char* bytes = port->from_net->front(&count);
      port->from_net->drop(port->to_line->push(bytes, count));
      if (port->to_line->room() == 0) break;
    }
    port->from_net->clear();
  }
  port->stage_net = stage;
}

void set_line(ForwardPort* port) {
  const SerialSettings& s = port->line.line;
  if (port->settings.line_defaulted && !port->session_line)
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
  set_rules(port);
}

// DTR, RTS and break as a session asked. A line without modem signals (a pseudo-terminal)
// refuses; the session is answered with what it asked all the same.
void set_signals(ForwardPort* port) {
  const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  ::ioctl(port->serial_fd, port->line.dtr ? TIOCMBIS : TIOCMBIC, &dtr);
  ::ioctl(port->serial_fd, port->line.rts ? TIOCMBIS : TIOCMBIC, &rts);
  ::ioctl(port->serial_fd, port->line.brk ? TIOCSBRK : TIOCCBRK);
}

void close_line(ForwardPort* port) {
  if (port->serial_fd >= 0) ::close(port->serial_fd);
  port->serial_fd = -1;
  port->line_full = false;
  port->to_line->clear();
  port->from_net->clear();
  port->uart_packer.clear();
  port->tcp_packer.clear();
}

bool open_line(ForwardPort* port, int64_t now) {
  if (port->serial_fd >= 0) return true;
  if (now < port->next_open_ms) return false;
  port->serial_fd = open_serial_line(port->path);
  if (port->serial_fd < 0) {
    if (errno != port->open_errno_said)
      forward_log(LOG_ERR, "COM%d: cannot open %s: %s", port->number, port->path,
                  std::strerror(errno));
    port->open_errno_said = errno;
    port->next_open_ms = now + kReopenMs;
    return false;
  }
  port->open_errno_said = 0;
  set_line(port);
  return true;
}

void lose_line(ForwardPort* port, const char* why) {
  forward_log(LOG_ERR, "COM%d: %s: %s; opened again in %d ms while it is wanted", port->number,
              port->path, why, kReopenMs);
  close_line(port);
  port->next_open_ms = now_ms() + kReopenMs;
}

// com_always_open 0: the line is open only while the link has a peer to serve, and until
// what the last one sent has gone to the line.
bool line_wanted(const ForwardPort& port) {
  return port.settings.link.always_open != 0 || net_has_peer(port.net) ||
         (port.serial_fd >= 0 && !port.to_line->empty());
}

void emit_uart_packet(ForwardPort* port) {
  net_send(&port->net, port->uart_packer.data(), port->uart_packer.size());
  port->uart_packer.clear();
}

void read_line(ForwardPort* port) {
  unsigned char buffer[kPeerQueueSize];
  ssize_t n = ::read(port->serial_fd, buffer, kLineRead);
  // A read gives at most what the line's driver holds (4 KiB on a pseudo-terminal). Without
  // packing, the line is read again while the link takes more: one send then carries several
  // reads, and a send to the network costs far more than a read of the line.
  const std::size_t most = port->uart_packer.rule().on ? kLineRead : net_take_size(port->net);
  while (n > 0 && static_cast<std::size_t>(n) + kLineRead <= most) {
    const ssize_t more = ::read(port->serial_fd, buffer + n, kLineRead);
    if (more <= 0) break;  // an error shows again at the next poll
    n += more;
  }
  if (n > 0) {
    if (!port->uart_packer.rule().on)
      return net_send(&port->net, buffer, static_cast<std::size_t>(n));
    const int64_t now = now_ms();
    std::size_t at = 0;
    while (at < static_cast<std::size_t>(n)) {
      at += port->uart_packer.take(buffer + at, static_cast<std::size_t>(n) - at, now);
      if (port->uart_packer.complete()) emit_uart_packet(port);
    }
    if (port->uart_packer.check_idle(now)) emit_uart_packet(port);  // a timer of 0
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    lose_line(port, std::strerror(errno));
  }
}

// A full line (or one held by XOFF) is not asked again before POLLOUT: each turn would cost a
// refused write, and each small write wakes the line's reader once more.
void write_line(ForwardPort* port) {
  while (port->serial_fd >= 0 && !port->line_full && !port->to_line->empty()) {
    std::size_t count;
    const unsigned char* bytes = port->to_line->front(&count);
    const ssize_t n = ::write(port->serial_fd, bytes, count);
    if (n < 0) {
      if (errno == EAGAIN) port->line_full = true;
      else if (errno != EINTR) lose_line(port, std::strerror(errno));
      return;
    }
    port->to_line->drop(static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) < count) port->line_full = true;
  }
}

// When the next packet may go to the line (send_interval after the last one).
int64_t interval_due(const ForwardPort& port) {
  const int gap = port.settings.link.send_interval;
  return gap > 0 && port.last_packet_ms >= 0 ? port.last_packet_ms + gap : 0;
}

// Network data through the network-side packer to the line's queue, a packet at a time;
// with send_interval, a packet only once the line took the last one and the gap has passed.
void pump_to_line(ForwardPort* port, int64_t now) {
  if (!port->stage_net) return;
  Packer& p = port->tcp_packer;
  for (;;) {
    while (!p.complete() && !port->from_net->empty()) {
      std::size_t count;
      const unsigned char* bytes = port->from_net->front(&count);
      port->from_net->drop(p.take(bytes, count, now));
    }
    if (!p.check_idle(now)) return;
    if (port->to_line->room() < p.size()) return;
    if (port->settings.link.send_interval > 0 &&
        (!port->to_line->empty() || now < interval_due(*port)))
      return;
    port->to_line->push(p.data(), p.size());
    p.clear();
    port->last_packet_ms = now;
  }
}

void handle_requests(ForwardPort* port) {
  NetSide& net = port->net;
  for (int i = 0; i < net.request_count; ++i) {
    const ComOutcome o = apply_com_request(net.requests[i].request, &port->line);
    if (o.line_changed || o.signals_changed) {
      if (!port->session_line)
        forward_log(LOG_INFO, "COM%d: the line as an RFC 2217 client sets it, until the last "
                    "client leaves", port->number);
      port->session_line = true;
    }
    if (port->serial_fd >= 0) {
      if (o.line_changed) set_line(port);
      if (o.signals_changed) set_signals(port);
      if (o.purge & kPurgeFromLine) ::tcflush(port->serial_fd, TCIFLUSH);
      if (o.purge & kPurgeToLine) ::tcflush(port->serial_fd, TCOFLUSH);
    }
    if (o.purge & kPurgeFromLine) port->uart_packer.clear();
    if (o.purge & kPurgeToLine) {
      port->to_line->clear();
      port->from_net->clear();
      port->tcp_packer.clear();
    }
    net_answer(&net, net.requests[i], o.answer);
  }
  net.request_count = 0;
}

// The line to station.ini's settings again, once no session holds it.
void end_session_line(ForwardPort* port) {
  port->line = ComLineState{};
  port->line.line = port->settings.serial;
  port->session_line = false;
  if (port->serial_fd >= 0) {
    set_line(port);
    set_signals(port);
  }
  forward_log(LOG_INFO, "COM%d: the last client left: the line as station.ini says", port->number);
}

ByteQueue* inlet(ForwardPort* port) {
  return port->stage_net ? port->from_net.get() : port->to_line.get();
}

void keep_open_as_wanted(ForwardPort* port, int64_t now) {
  if (line_wanted(*port))
    open_line(port, now);
  else if (port->serial_fd >= 0)
    close_line(port);
}

// Said at the first reading and whenever they change, for the keys not at their default.
void say_unused(const ForwardPort& port, const UnusedKeys& keys) {
  const struct {
    const char* key;
    int value;
  } rows[] = {{"fifo_flag", keys.fifo_flag},
              {"com_transparent_mode", keys.transparent_mode},
              {"com_special_xon_xoff", keys.special_xon_xoff},
              {"com_permit_xon_xoff", keys.permit_xon_xoff}};
  for (const auto& r : rows)
    if (r.value != 0)
      forward_log(LOG_NOTICE, "COM%d: %s=%d has no effect on this forwarder", port.number, r.key,
                  r.value);
}

}  // namespace

int port_init(ForwardPort* port, int number, const char* path) {
  port->number = number;
  std::snprintf(port->path, sizeof port->path, "%s", path);
  port->to_line.reset(new (std::nothrow) ByteQueue(kLineQueueSize));
  port->from_net.reset(new (std::nothrow) ByteQueue(kStageQueueSize));
  return port->to_line && port->to_line->capacity() > 0 && port->from_net &&
                 port->from_net->capacity() > 0
             ? 0
             : -1;
}

void port_apply(ForwardPort* port, const PortSettings& settings) {
  const unsigned changed =
      port->configured ? compare_port_settings(port->settings, settings) : ~0u;
  if (!port->configured || !(port->settings.unused == settings.unused))
    say_unused(*port, settings.unused);
  port->settings = settings;
  port->configured = true;
  // A new station.ini line wins over a session's.
  if (changed & kSerialChanged) {
    port->line = ComLineState{};
    port->line.line = settings.serial;
    port->session_line = false;
    if (port->serial_fd >= 0) set_line(port);
  }
  if (changed & kLinkChanged) {
    const int mode = settings.link.link_mode;
    forward_log(LOG_INFO, "COM%d: %s link", port->number,
                kLinkNames[mode >= 0 && mode <= 2 ? mode : 0]);
    net_start(&port->net, port->number, settings.link);
    set_rules(port);
  } else {
    if (changed & kListenerChanged) net_move_listener(&port->net, settings.link);
    if (changed & kTransferChanged) {
      net_take_transfer_keys(&port->net, settings.link);
      set_rules(port);
      forward_log(LOG_INFO, "COM%d: packing and timing keys in force", port->number);
    }
  }
  port->next_open_ms = 0;  // a reload tries a line that would not open at once
  keep_open_as_wanted(port, now_ms());
}

void port_add_polls(ForwardPort* port, PollSet* set) {
  const unsigned char index = static_cast<unsigned char>(port->number - 1);
  if (port->serial_fd >= 0) {
    short events = net_backlogged(port->net) ? 0 : POLLIN;
    if (!port->to_line->empty()) events |= POLLOUT;
    set->add(port->serial_fd, events, {PollRole::kSerial, index, 0});
    if (port->uart_packer.due_at() >= 0) set->wake_by(port->uart_packer.due_at());
    if (port->stage_net) {
      if (port->tcp_packer.due_at() >= 0) set->wake_by(port->tcp_packer.due_at());
      if (port->tcp_packer.complete() && port->to_line->empty()) set->wake_by(interval_due(*port));
    }
  } else if (line_wanted(*port)) {
    set->wake_by(port->next_open_ms);
  }
  // The network is read again only once the line has taken half of what waits: with a fast
  // sender, a few large reads per queue instead of a small one after each write to the line.
  const ByteQueue& waiting = *inlet(port);
  const bool drained = waiting.size() <= waiting.capacity() / 2;
  net_add_polls(&port->net, set, port->serial_fd >= 0 && drained ? waiting.room() : 0);
}

void port_handle(ForwardPort* port, const pollfd& result, const PollTag& tag) {
  if (tag.role != PollRole::kSerial) {
    net_handle(&port->net, result, tag, inlet(port));
    if (port->net.request_count > 0) handle_requests(port);
    pump_to_line(port, now_ms());
    write_line(port);
    return;
  }
  if (port->serial_fd < 0) return;
  if (result.revents & POLLOUT) {
    port->line_full = false;
    write_line(port);
    pump_to_line(port, now_ms());
    write_line(port);
  }
  if (port->serial_fd >= 0 && (result.revents & POLLIN)) read_line(port);
  // Hung up with nothing to read (a pseudo-terminal whose other end closed): polling it
  // again would only wake at once, for ever.
  if (port->serial_fd >= 0 && (result.revents & (POLLHUP | POLLERR)) &&
      !(result.revents & POLLIN))
    lose_line(port, "hung up");
}

void port_tick(ForwardPort* port, int64_t now) {
  net_tick(&port->net, now);
  if (port->session_line && !net_connected(port->net)) end_session_line(port);
  keep_open_as_wanted(port, now);
  if (port->serial_fd < 0) return;
  if (port->uart_packer.check_idle(now)) emit_uart_packet(port);
  pump_to_line(port, now);
  write_line(port);
}

void port_close(ForwardPort* port) {
  net_stop(&port->net);
  if (port->serial_fd >= 0) ::close(port->serial_fd);
  port->serial_fd = -1;
}
