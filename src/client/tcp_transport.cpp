#include "client/tcp_transport.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

TcpClock::time_point tcp_deadline(int ms) {
  return TcpClock::now() + std::chrono::milliseconds(ms);
}

int tcp_ms_left(TcpClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TcpClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

namespace {

// Waits for the event; EINTR counts as "look again".
TcpStatus wait_for(int fd, short event, TcpClock::time_point deadline) {
  for (;;) {
    pollfd p{fd, event, 0};
    const int r = poll(&p, 1, tcp_ms_left(deadline));
    if (r > 0) return TcpStatus::kOk;
    if (r == 0) return TcpStatus::kTimedOut;
    if (errno != EINTR) return TcpStatus::kIoError;
  }
}

// One attempt: 0 with *fd set, or an errno.
int connect_once(const sockaddr_in& peer, const TcpOptions& options, TcpClock::time_point deadline,
                 int* fd) {
  *fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (*fd < 0) return errno;
  if (options.receive_buffer > 0)
    setsockopt(*fd, SOL_SOCKET, SO_RCVBUF, &options.receive_buffer, sizeof options.receive_buffer);
  if (options.no_delay) {
    const int on = 1;
    setsockopt(*fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  int err = 0;
  if (connect(*fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      socklen_t len = sizeof err;
      if (wait_for(*fd, POLLOUT, deadline) != TcpStatus::kOk)
        err = ETIMEDOUT;
      else if (getsockopt(*fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    }
  }
  if (err != 0) {
    close(*fd);
    *fd = -1;
  }
  return err;
}

}  // namespace

int tcp_open(const std::string& host, uint16_t port, const TcpOptions& options, std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (gai != 0 || !found) {
    *why = gai_strerror(gai);
    return -1;
  }
  sockaddr_in peer{};
  std::memcpy(&peer, found->ai_addr, sizeof peer);
  freeaddrinfo(found);
  peer.sin_port = htons(port);

  const auto retry_until = tcp_deadline(options.retry_ms);
  for (;;) {
    int fd = -1;
    const int err = connect_once(peer, options, tcp_deadline(options.timeout_ms), &fd);
    if (err == 0) return fd;
    if (err != ECONNREFUSED || TcpClock::now() >= retry_until) {
      *why = std::strerror(err);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TcpStatus tcp_send_all(int fd, const void* bytes, std::size_t count, int timeout_ms) {
  const auto* from = static_cast<const unsigned char*>(bytes);
  const auto deadline = tcp_deadline(timeout_ms);
  std::size_t sent = 0;
  while (sent < count) {
    const ssize_t n = send(fd, from + sent, count - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      return errno == EPIPE || errno == ECONNRESET ? TcpStatus::kClosed : TcpStatus::kIoError;
    const TcpStatus s = wait_for(fd, POLLOUT, deadline);
    if (s != TcpStatus::kOk) return s;
  }
  return TcpStatus::kOk;
}

TcpStatus tcp_receive(int fd, std::vector<unsigned char>* into, std::size_t at_most,
                      int timeout_ms) {
  const auto deadline = tcp_deadline(timeout_ms);
  for (;;) {
    const TcpStatus s = wait_for(fd, POLLIN, deadline);
    if (s != TcpStatus::kOk) return s;
    unsigned char buf[4096];
    const ssize_t n = recv(fd, buf, at_most < sizeof buf ? at_most : sizeof buf, 0);
    if (n > 0) {
      into->insert(into->end(), buf, buf + n);
      return TcpStatus::kOk;
    }
    if (n == 0 || errno == ECONNRESET) return TcpStatus::kClosed;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return TcpStatus::kIoError;
  }
}

TcpStatus tcp_receive_until(int fd, std::vector<unsigned char>* into, std::size_t count,
                            int timeout_ms) {
  const auto deadline = tcp_deadline(timeout_ms);
  while (into->size() < count) {
    const TcpStatus s = tcp_receive(fd, into, count - into->size(), tcp_ms_left(deadline));
    if (s != TcpStatus::kOk) return s;
  }
  return TcpStatus::kOk;
}
