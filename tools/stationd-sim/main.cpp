// stationd-sim: the device's daemon on a PC, against a device root folder. Prepares the root
// (folders, stand-ins for the device's programs, a unit fresh from manufacturing when the
// EEPROM image is missing; with --peers the stand-ins that deliver traps and mail), then runs
// the daemon beside a stand-in for the serial-forwarding side until SIGTERM or SIGINT.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "first_start.h"
#include "peers.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/wire_format.h"
#include "service/control_loop.h"
#include "supervisor.h"

namespace {

// A format: %u is the control port.
constexpr char kUsage[] =
    "usage: stationd-sim --root DIR [--port N] [--prepare-only] [--peers] [--no-forwarder]\n"
    "  --root DIR       the folder that plays the device's file system (not /)\n"
    "  --port N         control port (default %u)\n"
    "  --prepare-only   prepare the root, a new unit included when it has no EEPROM image,"
    " then exit\n"
    "  --peers          traps go to net-snmp's snmptrap and mail to an SMTP server, for\n"
    "                   loopback or addresses of this network namespace only\n"
    "  --no-forwarder   (tests) no stand-in for the serial-forwarding side: queue 1234 is\n"
    "                   neither created nor read, so a test can leave it missing or full\n";

struct Options {
  const char* root = nullptr;
  unsigned port = kControlPort;
  bool prepare_only = false;
  bool peers = false;
  bool with_forwarder = true;
};

bool parse_port(const char* text, unsigned* port) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (!*text || *end || value < 1 || value > 65535) return false;
  *port = static_cast<unsigned>(value);
  return true;
}

bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--root") == 0 && has_value) {
      options->root = argv[++i];
    } else if (std::strcmp(argv[i], "--port") == 0 && has_value) {
      if (!parse_port(argv[++i], &options->port)) return false;
    } else if (std::strcmp(argv[i], "--prepare-only") == 0) {
      options->prepare_only = true;
    } else if (std::strcmp(argv[i], "--peers") == 0) {
      options->peers = true;
    } else if (std::strcmp(argv[i], "--no-forwarder") == 0) {
      options->with_forwarder = false;
    } else {
      return false;
    }
  }
  return options->root != nullptr;
}

// The daemon retries a listening socket it cannot make at once and for ever, which on a
// PC is a flood of bind errors; a port that is taken is better said once, before the
// daemon starts (and before anything under a root that may be in use is touched).
bool port_is_free(unsigned port) {
  const int skt = ::socket(AF_INET, SOCK_STREAM, 0);
  if (skt < 0) return true;  // let the daemon say what is wrong
  const int on = 1;
  ::setsockopt(skt, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = ::bind(skt, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(skt);
  return free;
}

// The device empties /tmp at every boot; the simulator's start is the boot of the simulated
// unit. A lock file left by a run that was killed while it held the EEPROM would otherwise
// make every EEPROM access of this run wait for ever.
void remove_stale_eeprom_lock() { ::unlink(rooted("/tmp/eeprom.lock").c_str()); }

}  // namespace

int main(int argc, char** argv) {
  // Diagnostics leave line by line even when standard output is a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  if (!parse(argc, argv, &options)) {
    std::fprintf(stderr, kUsage, static_cast<unsigned>(kControlPort));
    return 2;
  }
  // Even the device build simulates only with a root: without one it would be the device.
  if (refuse_pc_without_root(options.root) != 0 || !*options.root) {
    std::fputs("stationd-sim: --root needs a folder other than / (the PC's own files)\n", stderr);
    return 2;
  }
  if (prepare_device_root(options.root) != 0) return 1;
  // The peer stand-ins live only as long as --peers is given: a later run without it gets
  // the recording-only ones back.
  if (options.peers ? install_peer_stand_ins() != 0
                    : remove_peer_stand_ins() == 1 && prepare_device_root(options.root) != 0)
    return 1;
  if (!options.prepare_only && !port_is_free(options.port)) {
    std::fprintf(stderr, "stationd-sim: port %u is in use\n", options.port);
    return 1;
  }
  remove_stale_eeprom_lock();
  if (make_fresh_unit_if_missing() < 0) return 1;
  if (options.prepare_only) return 0;
  return supervise(static_cast<uint16_t>(options.port), options.with_forwarder) == 0 ? 0 : 1;
}
