#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "forward/forward_log.h"
#include "forward/net_side_parts.h"

#include <new>

namespace {
// What one read of a Telnet connection takes at most.
constexpr std::size_t kTelnetPiece = 1024;
}  // namespace

AddressText address_text(in_addr_t address, int port) {
  AddressText t;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  if (port >= 0)
    std::snprintf(t.text, sizeof t.text, "%u.%u.%u.%u:%d", b[0], b[1], b[2], b[3], port);
  else
    std::snprintf(t.text, sizeof t.text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return t;
}

in_addr_t address_of(const unsigned char* ip) {
  in_addr_t address;
  unsigned char* b = reinterpret_cast<unsigned char*>(&address);
  for (int i = 0; i < 4; ++i) b[i] = ip[i];  // network order is first octet first
  return address;
}

void close_fd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

bool flush_queue(int fd, ByteQueue* queue) {
  while (!queue->empty()) {
    std::size_t count;
    const unsigned char* bytes = queue->front(&count);
    const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    queue->drop(static_cast<std::size_t>(n));
  }
  return true;
}

bool read_into(NetSide* net, int fd, TelnetSession* telnet, ByteQueue* out, ByteQueue* to_line,
               PollRole role, unsigned short slot) {
  if (!telnet) {
    // Plain bytes go straight into the line's queue, as much as it takes in this turn: a fast
    // sender costs a few turns of the loop per queue, and no copy.
    for (;;) {
      std::size_t want;
      unsigned char* room = to_line->free_piece(&want);
      if (want == 0) return true;
      const ssize_t n = ::recv(fd, room, want, MSG_DONTWAIT);
      if (n == 0) return false;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      to_line->commit(static_cast<std::size_t>(n));
      if (static_cast<std::size_t>(n) < want) return true;
    }
  }
  // A Telnet peer is read in smaller pieces: its answers must fit the answer buffer.
  unsigned char buffer[kTelnetPiece];
  const std::size_t want = to_line->room() < sizeof buffer ? to_line->room() : sizeof buffer;
  if (want == 0) return true;
  const ssize_t n = ::recv(fd, buffer, want, MSG_DONTWAIT);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  unsigned char data[kTelnetPiece], answer_bytes[4 * kTelnetPiece];
  TelnetSink to_data{data, sizeof data};
  TelnetSink answers{answer_bytes, sizeof answer_bytes};
  ComRequest requests[kMaxComRequests];
  int request_count = 0;
  telnet->receive(buffer, static_cast<std::size_t>(n), &to_data, &answers, requests,
                  &request_count);
  to_line->push(data, to_data.size);
  for (int i = 0; i < request_count && net->request_count < kMaxLineRequests; ++i)
    net->requests[net->request_count++] = LineRequest{requests[i], role, slot};
  if (answers.size > 0) {
    out->push(answer_bytes, answers.size);
    return flush_queue(fd, out);
  }
  return true;
}

void queue_for(ByteQueue* out, bool telnet, const unsigned char* bytes, std::size_t count) {
  unsigned char escaped[2 * kLineRead];
  while (count > 0) {
    std::size_t piece = count < kLineRead ? count : kLineRead;
    const unsigned char* from = bytes;
    std::size_t length = piece;
    if (telnet) {
      length = telnet_escape(bytes, piece, escaped);
      from = escaped;
    }
    out->push(from, length);
    bytes += piece;
    count -= piece;
  }
}

bool send_to_peer(int fd, ByteQueue* out, bool telnet, const unsigned char* bytes,
                  std::size_t count) {
  if (telnet || !out->empty()) {
    const bool was_empty = out->empty();
    queue_for(out, telnet, bytes, count);
    return !was_empty || flush_queue(fd, out);
  }
  // Plain bytes and nothing queued: straight from the caller's buffer, no copy.
  const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
  const std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
  out->push(bytes + sent, count - sent);
  return true;
}

void start_telnet(const NetSide& net, std::unique_ptr<TelnetSession>* telnet, ByteQueue* out) {
  telnet->reset();
  if (net.settings.tcp_mode != 1 && net.settings.tcp_mode != 2) return;
  telnet->reset(new (std::nothrow) TelnetSession(net.settings.tcp_mode == 1));
  if (!*telnet) return;
  unsigned char bytes[32];
  TelnetSink greeting{bytes, sizeof bytes};
  (*telnet)->greet(&greeting);
  out->push(bytes, greeting.size);
}

// A dead peer (a cable pulled, a PC switched off) frees its slot within a few minutes.
void set_keepalive(int fd) {
  const int on = 1, idle = 60, interval = 10, count = 6;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void net_start(NetSide* net, int port, const LinkSettings& settings) {
  net_stop(net);
  net->port = port;
  net->settings = settings;
  net->mode = settings.link_mode;
  switch (net->mode) {
    case kTcpServer: server_start(net); break;
    case kTcpClient: client_start(net); break;
    default: udp_start(net); break;
  }
}

void net_stop(NetSide* net) {
  server_stop(net);
  client_stop(net);
  udp_stop(net);
  net->mode = -1;
}

void net_move_listener(NetSide* net, const LinkSettings& settings) {
  net->settings.local_port = settings.local_port;
  close_fd(&net->listen_fd);
  server_open_listener(net);
}

void net_take_transfer_keys(NetSide* net, const LinkSettings& settings) {
  // The link's endpoints are the same (else it is rebuilt): the whole record can be taken.
  net->settings = settings;
}

void net_add_polls(NetSide* net, PollSet* set, std::size_t to_line_room) {
  const bool room = to_line_room >= kLineRead;
  switch (net->mode) {
    case kTcpServer: server_add_polls(net, set, room); break;
    case kTcpClient: client_add_polls(net, set, room); break;
    case kUdp: udp_add_polls(net, set, room); break;
    default: break;
  }
}

void net_handle(NetSide* net, const pollfd& result, const PollTag& tag, ByteQueue* to_line) {
  switch (net->mode) {
    case kTcpServer: server_handle(net, result, tag, to_line); break;
    case kTcpClient: client_handle(net, result, tag, to_line); break;
    case kUdp: udp_handle(net, result, to_line); break;
    default: break;
  }
}

void net_tick(NetSide* net, int64_t now) {
  if (net->mode == kTcpClient) client_tick(net, now);
  if (net->mode == kTcpServer) server_tick(net, now);
}

void net_send(NetSide* net, const unsigned char* bytes, std::size_t count) {
  switch (net->mode) {
    case kTcpServer: server_send(net, bytes, count); break;
    case kTcpClient: client_send(net, bytes, count); break;
    case kUdp: udp_send(net, bytes, count); break;
    default: break;
  }
}

bool net_backlogged(const NetSide& net) {
  if (net.mode == kTcpServer) return server_backlogged(net);
  if (net.mode == kTcpClient) return client_backlogged(net);
  return false;
}

std::size_t net_take_size(const NetSide& net) {
  if (net.settings.tcp_mode != 0 || (net.mode != kTcpServer && net.mode != kTcpClient))
    return kLineRead;
  for (const Peer& p : net.peers)
    if (p.fd >= 0 && p.out && !p.out->empty()) return kLineRead;
  for (const Destination& d : net.dest)
    if (d.enabled && d.out && !d.out->empty()) return kLineRead;
  return kPeerQueueSize;
}

bool net_has_peer(const NetSide& net) {
  if (net.mode == kTcpServer) {
    for (const Peer& p : net.peers)
      if (p.fd >= 0) return true;
    return false;
  }
  if (net.mode == kTcpClient) return net.dest[0].enabled || net.dest[1].enabled;
  return net.mode == kUdp;
}

bool net_connected(const NetSide& net) {
  for (const Peer& p : net.peers)
    if (p.fd >= 0) return true;
  for (const Destination& d : net.dest)
    if (d.connected) return true;
  return false;
}

void net_answer(NetSide* net, const LineRequest& r, uint32_t value) {
  int fd = -1;
  ByteQueue* out = nullptr;
  if (r.role == PollRole::kPeer && r.slot < kMaxPeers) {
    fd = net->peers[r.slot].fd;
    out = net->peers[r.slot].out.get();
  } else if (r.role == PollRole::kDest && r.slot < 2) {
    fd = net->dest[r.slot].connected ? net->dest[r.slot].fd : -1;
    out = net->dest[r.slot].out.get();
  }
  if (fd < 0 || !out) return;
  unsigned char bytes[32];
  TelnetSink answer{bytes, sizeof bytes};
  telnet_com_answer(r.request.command, value, &answer);
  out->push(bytes, answer.size);
  flush_queue(fd, out);  // a peer gone is seen at its next poll
}

