#include "null_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/root.h"

namespace {

const char* const kPublished[2] = {"/dev/com1", "/dev/com2"};

// One direction of a pair: bytes read from one master and not yet written to the other.
struct Direction {
  int from, to;
  unsigned char bytes[4096];
  ssize_t length = 0, offset = 0;
};

}  // namespace

int make_null_modems(NullModems* modems) {
  for (int port = 0; port < 2; ++port) {
    for (int side = 0; side < 2; ++side) {
      termios raw{};
      cfmakeraw(&raw);
      cfsetspeed(&raw, B9600);
      char name[128];
      if (openpty(&modems->masters[port][side], &modems->slaves[port][side], name, &raw,
                  nullptr) != 0) {
        std::fprintf(stderr, "stationd-sim: pseudo-terminal: %s\n", std::strerror(errno));
        return -1;
      }
      fcntl(modems->masters[port][side], F_SETFL, O_NONBLOCK);
      if (side == 0) {
        modems->forwarder_paths[port] = name;
        continue;
      }
      const RootedPath link = rooted(kPublished[port]);
      ::unlink(link.c_str());
      if (::symlink(name, link.c_str()) != 0) {
        std::fprintf(stderr, "stationd-sim: %s: %s\n", link.c_str(), std::strerror(errno));
        return -1;
      }
    }
  }
  return 0;
}

void run_null_modem_relay(const NullModems& m) {
  Direction d[4];  // port i / 2, from side i % 2 to the other
  for (int i = 0; i < 4; ++i) {
    d[i].from = m.masters[i / 2][i % 2];
    d[i].to = m.masters[i / 2][1 - i % 2];
  }
  for (;;) {
    pollfd fds[4];
    for (int i = 0; i < 4; ++i)
      // A direction with bytes waiting waits for its writer; only then does it read again.
      fds[i] = d[i].length > d[i].offset ? pollfd{d[i].to, POLLOUT, 0}
                                         : pollfd{d[i].from, POLLIN, 0};
    if (::poll(fds, 4, -1) < 0) continue;
    for (int i = 0; i < 4; ++i) {
      Direction& x = d[i];
      if (fds[i].revents == 0) continue;
      if (x.length <= x.offset) {
        x.offset = 0;
        x.length = ::read(x.from, x.bytes, sizeof x.bytes);
        if (x.length < 0) {
          x.length = 0;
          // EIO: nobody holds the slave... but the relay holds them all, so this is rare;
          // wait a moment instead of spinning.
          if (errno != EAGAIN && errno != EINTR) ::usleep(10000);
        }
      }
      while (x.length > x.offset) {
        const ssize_t n = ::write(x.to, x.bytes + x.offset, static_cast<std::size_t>(x.length - x.offset));
        if (n <= 0) break;
        x.offset += n;
      }
    }
  }
}

void close_null_modems(NullModems* modems) {
  for (auto* ends : {&modems->masters, &modems->slaves})
    for (auto& pair : *ends)
      for (int& fd : pair) {
        if (fd >= 0) ::close(fd);
        fd = -1;
      }
}

void unpublish_null_modems() {
  for (const char* path : kPublished) ::unlink(rooted(path).c_str());
}
