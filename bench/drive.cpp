// The footprint run's client: logs in to a running daemon on loopback and sends a given
// number of commands, one buffer each, waiting for every reply: port queries, get-all
// requests and baud-rate changes in turn. The footprint script reads the daemon's heap and
// resident memory around it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench_suite.h"
#include "control_client.h"

int drive(const char* port_and_count) {
  unsigned port = 0, count = 0;
  if (std::sscanf(port_and_count, "%u:%u", &port, &count) != 2 || port == 0 || port > 65535) {
    std::fprintf(stderr, "--drive=PORT:COUNT\n");
    return 2;
  }
  const int fd = control_connect(static_cast<uint16_t>(port), 30000);
  if (fd < 0 || !control_login(fd)) {
    std::fprintf(stderr, "drive: no daemon on port %u, or the login failed\n", port);
    return 1;
  }
  unsigned char query[] = {0xFF, 0xFA, 0x2C, 0x5E, 0x00, 0xFF, 0xF0};
  unsigned char get_all[] = {0xFF, 0xFA, 0x2C, 0x60, 0xFF, 0xF0};
  unsigned char set_baud[] = {0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0};
  struct Command {
    unsigned char* bytes;
    int length;
    int reply_length;  // learnt from the first reply
  } cycle[] = {{query, sizeof query, 0},
               {get_all, sizeof get_all, 0},
               {set_baud, sizeof set_baud, 0},
               {query, sizeof query, 0}};
  unsigned char reply[1024];
  for (unsigned i = 0; i < count; ++i) {
    Command& c = cycle[i % 4];
    if (c.bytes == set_baud) {  // 4800 and 9600 in turn, so that every one changes the file
      set_baud[6] = set_baud[6] == 0x25 ? 0x12 : 0x25;
      set_baud[7] = set_baud[7] == 0x80 ? 0xC0 : 0x80;
    }
    const int n = c.reply_length == 0 ? learn_reply(fd, c.bytes, c.length, reply, sizeof reply)
                                      : round_trip(fd, c.bytes, c.length, reply, c.reply_length);
    if (n <= 0) {
      std::fprintf(stderr, "drive: no reply to command %u\n", i);
      close(fd);
      return 1;
    }
    c.reply_length = n;
  }
  close(fd);
  return 0;
}
