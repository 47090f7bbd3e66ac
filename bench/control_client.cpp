#include "control_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int receive_exactly(int fd, unsigned char* to, int count) {
  int got = 0;
  while (got < count) {
    const ssize_t n = recv(fd, to + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    got += static_cast<int>(n);
  }
  return got;
}

bool send_all(int fd, const unsigned char* from, int count) {
  while (count > 0) {
    const ssize_t n = send(fd, from, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
    count -= static_cast<int>(n);
  }
  return true;
}

}  // namespace

int tcp_connect(uint16_t port, int wait_ms) {
  const sockaddr_in a = loopback(port);
  for (int waited = 0;; waited += 20) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    close(fd);
    if (waited >= wait_ms) return -1;
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

int control_connect(uint16_t port, int wait_ms) {
  const int fd = tcp_connect(port, wait_ms);
  unsigned char greeting[2];
  if (fd < 0) return -1;
  if (receive_exactly(fd, greeting, 2) == 2 && greeting[0] == ' ' && greeting[1] == ' ') return fd;
  close(fd);
  return -1;
}

int control_login(int fd, const char* password) {
  unsigned char login[64] = {0xFF, 0xFA, 0x2C, 0x00};
  int length = 4;
  while (*password != '\0' && length < 60)
    login[length++] = static_cast<unsigned char>(*password++);
  login[length++] = 0xFF;
  login[length++] = 0xF0;
  unsigned char reply[7];
  return round_trip(fd, login, length, reply, sizeof reply) == 7 && reply[4] == 'S';
}

int round_trip(int fd, const unsigned char* request, int length, unsigned char* reply,
               int reply_length) {
  if (!send_all(fd, request, length)) return -1;
  return receive_exactly(fd, reply, reply_length);
}

int learn_reply(int fd, const unsigned char* request, int length, unsigned char* reply,
                int capacity) {
  if (!send_all(fd, request, length)) return -1;
  int got = 0;
  pollfd p{fd, POLLIN, 0};
  while (got < capacity && poll(&p, 1, got == 0 ? 5000 : 200) == 1) {
    const ssize_t n = recv(fd, reply + got, capacity - got, 0);
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  return got > 0 ? got : -1;
}

pid_t start_echo_server(uint16_t* port) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  socklen_t size = sizeof a;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    if (listener >= 0) close(listener);
    return -1;
  }
  *port = ntohs(a.sin_port);
  const pid_t pid = fork();
  if (pid != 0) {
    close(listener);
    return pid;
  }
  // The child: the same blocking shape as the daemon's loop, without the work. It ends with
  // this program, however that ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  unsigned char buffer[1024];
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    for (ssize_t n; (n = recv(client, buffer, sizeof buffer, 0)) > 0;)
      if (!send_all(client, buffer, static_cast<int>(n))) break;
    close(client);
  }
}

void stop_child(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}
