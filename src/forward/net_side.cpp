#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "forward/forward_log.h"
#include "forward/net_side_parts.h"

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

bool read_into(int fd, ByteQueue* to_line) {
  unsigned char buffer[kReadChunk];
  std::size_t want = to_line->room() < sizeof buffer ? to_line->room() : sizeof buffer;
  if (want == 0) return true;
  const ssize_t n = ::recv(fd, buffer, want, MSG_DONTWAIT);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  // Raw passing; a Telnet or RFC 2217 session would take its commands out here.
  to_line->push(buffer, static_cast<std::size_t>(n));
  return true;
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
  if (settings.tcp_mode != 0 && settings.link_mode != kUdp)
    forward_log(LOG_WARNING, "COM%d: TCP mode %s is not served yet; bytes pass untouched", port,
                settings.tcp_mode == 1 ? "Virtual_COM" : "Reverse_Telnet");
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

void net_add_polls(NetSide* net, PollSet* set, std::size_t to_line_room) {
  const bool room = to_line_room >= kReadChunk;
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
