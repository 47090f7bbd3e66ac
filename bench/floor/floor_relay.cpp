// The floor of a serial-to-TCP relay, for bench/forward_bench.py: one serial line, one TCP
// client at a time, a poll loop that copies each way through a 64 KiB buffer and does
// nothing else. Whatever a real forwarder costs beyond this is its own.
//   floor_relay SERIAL_PATH TCP_PORT
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

struct Pipe {  // bytes read from one side, not yet written to the other
  char bytes[65536];
  ssize_t length = 0, written = 0;
};

// Moves bytes from `from` into the pipe when it is empty, and from the pipe to `to`.
bool pump(int from, short from_events, int to, short to_events, Pipe* p) {
  if (p->length == 0 && (from_events & (POLLIN | POLLHUP))) {
    const ssize_t n = read(from, p->bytes, sizeof p->bytes);
    if (n == 0 || (n < 0 && errno != EAGAIN)) return false;
    p->length = n > 0 ? n : 0;
    p->written = 0;
  }
  if (p->length > 0 && (to_events & POLLOUT || from_events & POLLIN)) {
    const ssize_t n = write(to, p->bytes + p->written, p->length - p->written);
    if (n < 0 && errno != EAGAIN) return false;
    if (n > 0 && (p->written += n) == p->length) p->length = 0;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: floor_relay SERIAL_PATH TCP_PORT\n"), 2;
  const int line = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  if (line < 0 || tcgetattr(line, &t) != 0) return std::perror(argv[1]), 1;
  cfmakeraw(&t);
  tcsetattr(line, TCSANOW, &t);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0)
    return std::perror("listen"), 1;
  for (;;) {
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0) continue;
    fcntl(peer, F_SETFL, O_NONBLOCK);
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    static Pipe up, down;  // line to peer, peer to line
    up.length = down.length = 0;
    for (;;) {
      pollfd p[2] = {{line, static_cast<short>((up.length ? 0 : POLLIN) | (down.length ? POLLOUT : 0)), 0},
                     {peer, static_cast<short>((down.length ? 0 : POLLIN) | (up.length ? POLLOUT : 0)), 0}};
      if (poll(p, 2, -1) < 0 && errno != EINTR) return 1;
      if (!pump(line, p[0].revents, peer, p[1].revents, &up) ||
          !pump(peer, p[1].revents, line, p[0].revents, &down))
        break;
    }
    close(peer);
  }
}
