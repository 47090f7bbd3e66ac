// stationd-sim: the device's daemon on a PC, against a device root folder. Prepares the root
// (folders, stand-ins for the device's programs, a unit fresh from manufacturing when the
// EEPROM image is missing; with --peers the stand-ins that deliver traps and mail), then runs
// the daemon beside the serial-forwarding side until SIGTERM or SIGINT.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../cli_completion.h"
#include "first_start.h"
#include "peers.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/wire_format.h"
#include "supervisor.h"

namespace {

struct Options {
  std::string root;
  unsigned port = kControlPort;
  bool prepare_only = false;
  bool peers = false;
  bool no_forwarder = false;
  bool daemon_only = false;
  bool network = false;
  std::string serial;
};

// The options, their checks and the help; --help and --version answer on standard output.
// Anything else wrong is said on standard error: 2.
int parse(int argc, char** argv, Options* options) {
  CLI::App app{"The device's daemon on a PC, against a folder that plays the device's file system.",
               "stationd-sim"};
  app.add_option("--root", options->root, "the folder that plays the device's file system (not /)")
      ->required()
      ->type_name("DIR");
  app.add_option("--port", options->port, "control port")
      ->check(CLI::Range(1, 65535))
      ->type_name("N")
      ->capture_default_str();
  app.add_flag("--prepare-only", options->prepare_only,
               "prepare the root, a new unit included when it has no EEPROM image, then exit");
  app.add_flag("--peers", options->peers,
               "traps go to net-snmp's snmptrap and mail to an SMTP server, for loopback or "
               "addresses of this network namespace only");
  app.add_option("--serial", options->serial,
                 "the forwarder's lines of COM1 and COM2 instead of null-modem pairs of "
                 "pseudo-terminals published as DIR/dev/com1 and DIR/dev/com2")
      ->type_name("PATH1,PATH2")
      ->check([](const std::string& v) {  // one comma, a path on each side
        const bool two = std::count(v.begin(), v.end(), ',') == 1 && v[0] != ',' && v.back() != ',';
        return two ? std::string() : std::string("needs two paths: PATH1,PATH2");
      });
  app.add_flag("--network", options->network,
               "the forwarder may also reach addresses outside loopback and this network "
               "namespace (never needed for testing)");
  app.add_flag("--no-forwarder", options->no_forwarder,
               "a stand-in instead of the forwarder: it only records each change notice in "
               "forwarder.log (benchmarks, several units in one network namespace)");
  app.add_flag("--daemon-only", options->daemon_only,
               "(tests) nothing on the serial-forwarding side: queue 1234 is neither created "
               "nor read, so a test can leave it missing or full");
  app.set_version_flag("--version", "stationd-sim " STATION_VERSION);
  return cli_completion::parse(app, argc, argv, [](const CLI::ParseError& e) {
    std::fprintf(stderr, "stationd-sim: %s\nstationd-sim --help lists the options.\n", e.what());
    return 2;
  });
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
  if (const int status = parse(argc, argv, &options); status >= 0) return status;
  // Even the device build simulates only with a root: without one it would be the device.
  if (refuse_pc_without_root(options.root.c_str()) != 0 || names_host_root(options.root.c_str())) {
    std::fputs("stationd-sim: --root needs a folder other than / (the PC's own files)\n", stderr);
    return 2;
  }
  if (prepare_device_root(options.root.c_str()) != 0) return 1;
  // The peer stand-ins live only as long as --peers is given: a later run without it gets
  // the recording-only ones back.
  if (options.peers
          ? install_peer_stand_ins() != 0
          : remove_peer_stand_ins() == 1 && prepare_device_root(options.root.c_str()) != 0)
    return 1;
  if (!options.prepare_only && !port_is_free(options.port)) {
    std::fprintf(stderr, "stationd-sim: port %u is in use\n", options.port);
    return 1;
  }
  remove_stale_eeprom_lock();
  if (make_fresh_unit_if_missing() < 0) return 1;
  if (options.prepare_only) return 0;
  ForwardingPlan plan;
  plan.kind = options.daemon_only    ? ForwardingPlan::kNone
              : options.no_forwarder ? ForwardingPlan::kStandIn
                                     : ForwardingPlan::kReal;
  plan.network = options.network;
  if (!options.serial.empty()) {
    const auto comma = options.serial.find(',');
    plan.serial[0] = options.serial.substr(0, comma);
    plan.serial[1] = options.serial.substr(comma + 1);
  }
  return supervise(static_cast<uint16_t>(options.port), plan) == 0 ? 0 : 1;
}
