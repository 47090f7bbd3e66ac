#include "control_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/tcp_transport.h"
#include "protocol/wire_format.h"

namespace {

// Longer than any reply of a daemon at work takes; only a lost one waits this long.
constexpr int kReplyWaitMs = 10000;

// What the last exchange received; kept, so a round trip does not allocate.
std::vector<unsigned char> received;

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// The echo server's side: a blocking descriptor, every byte sent back.
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

bool send_request(int fd, const unsigned char* request, int length) {
  return tcp_send_all(fd, request, static_cast<std::size_t>(length), kReplyWaitMs) ==
         TcpStatus::kOk;
}

}  // namespace

int tcp_connect(uint16_t port, int wait_ms) {
  TcpOptions options;
  options.retry_ms = wait_ms;
  options.no_delay = true;
  std::string why;
  return tcp_open("127.0.0.1", port, options, &why);
}

int control_connect(uint16_t port, int wait_ms) {
  const int fd = tcp_connect(port, wait_ms);
  if (fd < 0) return -1;
  received.clear();
  if (tcp_receive_until(fd, &received, kGreetingSize, kReplyWaitMs) == TcpStatus::kOk &&
      std::memcmp(received.data(), kGreeting, kGreetingSize) == 0)
    return fd;
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
  if (!send_request(fd, request, length)) return -1;
  received.clear();
  if (tcp_receive_until(fd, &received, static_cast<std::size_t>(reply_length), kReplyWaitMs) !=
      TcpStatus::kOk)
    return -1;
  std::memcpy(reply, received.data(), received.size());
  return reply_length;
}

int learn_reply(int fd, const unsigned char* request, int length, unsigned char* reply,
                int capacity) {
  if (!send_request(fd, request, length)) return -1;
  received.clear();
  const auto room = static_cast<std::size_t>(capacity);
  while (received.size() < room && tcp_receive(fd, &received, room - received.size(),
                                               received.empty() ? 5000 : 200) == TcpStatus::kOk) {
  }
  if (received.empty()) return -1;
  std::memcpy(reply, received.data(), received.size());
  return static_cast<int>(received.size());
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
