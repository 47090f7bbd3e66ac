// The TCP server of a port: com_local_port, com_max_connection clients at once (0 counts as
// one), each gets the serial data and any may write; com_ip_filter admits com_source_ip only.
// com_reply_all 0 gives serial data only to the clients that wrote within
// tranaction_timeout ms; connect_time_out closes a client idle that many seconds.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "forward/forward_log.h"
#include "forward/net_side_parts.h"

void server_open_listener(NetSide* net) {
  const int local_port = net->settings.local_port;
  if (local_port <= 0 || local_port > 65535) {
    forward_log(LOG_NOTICE, "COM%d: TCP server without a local port: not listening", net->port);
    return;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(local_port));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
    forward_log(LOG_ERR, "COM%d: cannot listen on TCP port %d: %s", net->port, local_port,
                std::strerror(errno));
    ::close(fd);
    return;
  }
  net->listen_fd = fd;
  forward_log(LOG_INFO, "COM%d: listening on TCP port %d", net->port, local_port);
}

void server_start(NetSide* net) {
  const LinkSettings& s = net->settings;
  net->max_peers = s.max_connection <= 0 ? 1 : s.max_connection;
  if (net->max_peers > kMaxPeers) {
    forward_log(LOG_WARNING, "COM%d: %d connections asked, %d served", net->port,
                s.max_connection, kMaxPeers);
    net->max_peers = kMaxPeers;
  }
  net->filter = s.ip_filter != 0;
  net->admitted = address_of(s.source_ip);
  if (net->filter && net->admitted == 0) {
    forward_log(LOG_WARNING, "COM%d: IP filter on with source 0.0.0.0: every client admitted",
                net->port);
    net->filter = false;
  }
  server_open_listener(net);
}

namespace {

void drop_peer(NetSide* net, Peer* p, const char* why) {
  forward_log(LOG_INFO, "COM%d: client %s %s", net->port, address_text(p->address).text, why);
  close_fd(&p->fd);
  p->out.reset();
  p->telnet.reset();
}

// Whether a client gets the serial data: all do, unless com_reply_all is 0 with a window, and
// then only those that wrote within it (a reply goes to whoever asked).
bool served(const NetSide& net, const Peer& p, int64_t now) {
  const int window = net.settings.transaction_timeout;
  if (net.settings.reply_all != 0 || window <= 0) return true;
  return p.heard_ms >= 0 && now - p.heard_ms <= window;
}

void accept_peer(NetSide* net) {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const int fd = ::accept4(net->listen_fd, reinterpret_cast<sockaddr*>(&from), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  const in_addr_t address = from.sin_addr.s_addr;
  if (net->filter && address != net->admitted) {
    forward_log(LOG_NOTICE, "COM%d: client %s refused by the IP filter", net->port,
                address_text(address).text);
    ::close(fd);
    return;
  }
  int used = 0;
  Peer* free_slot = nullptr;
  for (Peer& p : net->peers) {
    if (p.fd >= 0) ++used;
    else if (!free_slot) free_slot = &p;
  }
  if (used >= net->max_peers || !free_slot) {
    forward_log(LOG_NOTICE, "COM%d: client %s over the limit of %d: closed", net->port,
                address_text(address).text, net->max_peers);
    ::close(fd);
    return;
  }
  free_slot->out.reset(new (std::nothrow) ByteQueue(kPeerQueueSize));
  if (!free_slot->out || free_slot->out->capacity() == 0) {
    free_slot->out.reset();
    ::close(fd);
    return;
  }
  set_keepalive(fd);
  free_slot->fd = fd;
  free_slot->address = address;
  free_slot->heard_ms = -1;
  free_slot->active_ms = now_ms();
  start_telnet(*net, &free_slot->telnet, free_slot->out.get());
  forward_log(LOG_INFO, "COM%d: client %s connected", net->port, address_text(address).text);
}

}  // namespace

void server_stop(NetSide* net) {
  close_fd(&net->listen_fd);
  for (Peer& p : net->peers) {
    close_fd(&p.fd);
    p.out.reset();
    p.telnet.reset();
  }
}

void server_add_polls(NetSide* net, PollSet* set, bool line_has_room) {
  const unsigned char port = static_cast<unsigned char>(net->port - 1);
  set->add(net->listen_fd, POLLIN, {PollRole::kListen, port, 0});
  const int64_t idle_limit = static_cast<int64_t>(net->settings.connect_time_out) * 1000;
  for (int i = 0; i < kMaxPeers; ++i) {
    Peer& p = net->peers[i];
    if (p.fd < 0) continue;
    // POLLIN stays on even without room, or a closing client would go unnoticed; the
    // handler then reads nothing.
    short events = line_has_room ? POLLIN : 0;
    if (!p.out->empty()) events |= POLLOUT;
    set->add(p.fd, events, {PollRole::kPeer, port, static_cast<unsigned short>(i)});
    if (idle_limit > 0) set->wake_by(p.active_ms + idle_limit);
  }
}

void server_handle(NetSide* net, const pollfd& r, const PollTag& tag, ByteQueue* to_line) {
  if (tag.role == PollRole::kListen) {
    if (r.revents & POLLIN) accept_peer(net);
    return;
  }
  Peer& p = net->peers[tag.slot];
  if (p.fd < 0) return;
  if ((r.revents & POLLOUT) && !flush_queue(p.fd, p.out.get())) return drop_peer(net, &p, "gone");
  if (r.revents & POLLIN) {
    const std::size_t before = to_line->size();
    if (!read_into(net, p.fd, p.telnet.get(), p.out.get(), to_line, PollRole::kPeer, tag.slot))
      return drop_peer(net, &p, "disconnected");
    if (to_line->size() != before) p.heard_ms = p.active_ms = now_ms();
  }
  // Hung up while nothing could be read (the line's queue full): nothing more will come.
  if ((r.revents & (POLLHUP | POLLERR)) && !(r.revents & POLLIN))
    drop_peer(net, &p, "disconnected");
}

void server_send(NetSide* net, const unsigned char* bytes, std::size_t count) {
  const int64_t now = now_ms();
  for (Peer& p : net->peers) {
    if (p.fd < 0 || !served(*net, p, now)) continue;
    p.active_ms = now;
    // The line is not read while a queue lacks room for a read (send_reserve).
    if (!send_to_peer(p.fd, p.out.get(), net->settings.tcp_mode != 0, bytes, count))
      drop_peer(net, &p, "gone");
  }
}

bool server_backlogged(const NetSide& net) {
  for (const Peer& p : net.peers)
    if (p.fd >= 0 && p.out->room() < send_reserve(net)) return true;
  return false;
}

void server_tick(NetSide* net, int64_t now) {
  const int64_t idle_limit = static_cast<int64_t>(net->settings.connect_time_out) * 1000;
  if (idle_limit <= 0) return;
  for (Peer& p : net->peers)
    if (p.fd >= 0 && now - p.active_ms >= idle_limit) drop_peer(net, &p, "idle: closed");
}
