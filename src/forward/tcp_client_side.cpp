// The TCP client of a port: destination 1, and destination 2 when com_des2_enable is on,
// each connected on its own and again after a loss, waiting 1 s, then twice as long each
// failure up to 30 s. While one is down, the newest 4 KiB of serial data wait for it.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "forward/destination_fence.h"
#include "forward/forward_log.h"
#include "forward/net_side_parts.h"

namespace {

constexpr int kFirstBackoffMs = 1000;
constexpr int kLastBackoffMs = 30000;

void set_destination(NetSide* net, Destination* d, bool enabled, const unsigned char* ip,
                     int port, int number) {
  d->enabled = false;
  if (!enabled) return;
  const in_addr_t address = address_of(ip);
  if (address == 0 || port <= 0 || port > 65535) return;  // an endpoint switched off
  if (!destination_allowed(address)) {
    forward_log(LOG_WARNING,
                "COM%d: destination %d %s refused: outside loopback and this network "
                "namespace (the simulator's --network allows it)",
                net->port, number, address_text(address, port).text);
    return;
  }
  d->address = sockaddr_in{};
  d->address.sin_family = AF_INET;
  d->address.sin_port = htons(static_cast<uint16_t>(port));
  d->address.sin_addr.s_addr = address;
  d->out.reset(new (std::nothrow) ByteQueue(kPeerQueueSize));
  if (!d->out || d->out->capacity() == 0) return d->out.reset();
  d->enabled = true;
  d->connected = false;
  d->next_attempt_ms = 0;  // at once
  d->backoff_ms = kFirstBackoffMs;
}

void established(NetSide* net, Destination* d) {
  d->connected = true;
  if (net->settings.tcp_mode != 0) {
    // What waited is plain serial data: the session's greeting first, then the data escaped.
    unsigned char waiting[kDownBacklog];
    std::size_t count = 0;
    while (!d->out->empty() && count < sizeof waiting) {
      std::size_t piece;
      const unsigned char* bytes = d->out->front(&piece);
      if (piece > sizeof waiting - count) piece = sizeof waiting - count;
      std::memcpy(waiting + count, bytes, piece);
      d->out->drop(piece);
      count += piece;
    }
    d->out->clear();  // never more than kDownBacklog waits while down
    start_telnet(*net, &d->telnet, d->out.get());
    queue_for(d->out.get(), true, waiting, count);
  }
  d->backoff_ms = kFirstBackoffMs;
  forward_log(LOG_INFO, "COM%d: connected to %s", net->port,
              address_text(d->address.sin_addr.s_addr, ntohs(d->address.sin_port)).text);
}

void lose(NetSide* net, Destination* d, int64_t now, const char* why) {
  if (d->connected)
    forward_log(LOG_INFO, "COM%d: connection to %s %s", net->port,
                address_text(d->address.sin_addr.s_addr, ntohs(d->address.sin_port)).text, why);
  close_fd(&d->fd);
  d->connected = false;
  d->next_attempt_ms = now + d->backoff_ms;
  d->backoff_ms = d->backoff_ms * 2 > kLastBackoffMs ? kLastBackoffMs : d->backoff_ms * 2;
  // Only the newest part waits for the next connection. A Telnet session's queue is escaped
  // and holds its answers: it ends with the session, and plain data waits from now on.
  if (d->telnet) d->out->clear();
  d->telnet.reset();
  if (d->out->size() > kDownBacklog) d->out->drop(d->out->size() - kDownBacklog);
}

void attempt(NetSide* net, Destination* d, int64_t now) {
  d->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (d->fd < 0) return lose(net, d, now, "failed");
  set_keepalive(d->fd);
  if (::connect(d->fd, reinterpret_cast<const sockaddr*>(&d->address), sizeof d->address) == 0)
    established(net, d);
  else if (errno != EINPROGRESS)
    lose(net, d, now, "failed");
}

}  // namespace

void client_start(NetSide* net) {
  const LinkSettings& s = net->settings;
  set_destination(net, &net->dest[0], true, s.des1_ip, s.des1_port, 1);
  set_destination(net, &net->dest[1], s.des2_enable != 0, s.des2_ip, s.des2_port, 2);
  client_tick(net, now_ms());
}

void client_stop(NetSide* net) {
  for (Destination& d : net->dest) {
    close_fd(&d.fd);
    d.out.reset();
    d.telnet.reset();
    d.enabled = d.connected = false;
  }
}

void client_tick(NetSide* net, int64_t now) {
  for (Destination& d : net->dest)
    if (d.enabled && d.fd < 0 && now >= d.next_attempt_ms) attempt(net, &d, now);
}

void client_add_polls(NetSide* net, PollSet* set, bool line_has_room) {
  const unsigned char port = static_cast<unsigned char>(net->port - 1);
  for (int i = 0; i < 2; ++i) {
    Destination& d = net->dest[i];
    if (!d.enabled) continue;
    if (d.fd < 0) {
      set->wake_by(d.next_attempt_ms);
      continue;
    }
    short events = POLLIN;
    if (!d.connected || !d.out->empty()) events |= POLLOUT;
    if (d.connected && !line_has_room) events = static_cast<short>(events & ~POLLIN);
    set->add(d.fd, events, {PollRole::kDest, port, static_cast<unsigned short>(i)});
  }
}

void client_handle(NetSide* net, const pollfd& r, const PollTag& tag, ByteQueue* to_line) {
  Destination& d = net->dest[tag.slot];
  if (d.fd < 0) return;
  const int64_t now = now_ms();
  if (!d.connected) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0 || (r.revents & (POLLERR | POLLHUP))) return lose(net, &d, now, "failed");
    if (!(r.revents & POLLOUT)) return;
    established(net, &d);
  }
  if ((r.revents & POLLOUT) && !flush_queue(d.fd, d.out.get())) return lose(net, &d, now, "lost");
  if ((r.revents & POLLIN) &&
      !read_into(net, d.fd, d.telnet.get(), d.out.get(), to_line, PollRole::kDest, tag.slot))
    return lose(net, &d, now, "closed");
  if ((r.revents & (POLLHUP | POLLERR)) && !(r.revents & POLLIN)) lose(net, &d, now, "lost");
}

void client_send(NetSide* net, const unsigned char* bytes, std::size_t count) {
  for (Destination& d : net->dest) {
    if (!d.enabled) continue;
    const bool telnet = net->settings.tcp_mode != 0;
    if (!d.connected) {
      d.out->push_dropping_oldest(bytes, count);
      if (d.out->size() > kDownBacklog) d.out->drop(d.out->size() - kDownBacklog);
      continue;
    }
    if (!send_to_peer(d.fd, d.out.get(), telnet, bytes, count)) lose(net, &d, now_ms(), "lost");
  }
}

bool client_backlogged(const NetSide& net) {
  for (const Destination& d : net.dest)
    if (d.enabled && d.connected && d.out->room() < send_reserve(net)) return true;
  return false;
}
