// The simulator's serial ports when none are given: per port a null-modem pair of
// pseudo-terminals. The forwarder opens one end as its serial line; the other end is
// published as ROOT/dev/com1 and ROOT/dev/com2 for a serial program on the PC. A relay
// process carries the bytes between the two and holds both ends open, so either side may
// close and open its end again.
#pragma once

#include <sys/types.h>

#include <string>

struct NullModems {
  int masters[2][2] = {{-1, -1}, {-1, -1}};  // [port][0 forwarder's side, 1 published side]
  int slaves[2][2] = {{-1, -1}, {-1, -1}};
  std::string forwarder_paths[2];  // the ends the forwarder opens
};

// Makes both pairs and publishes ROOT/dev/com1 and com2 (replacing what is there).
// 0, or -1 with one line on stderr.
int make_null_modems(NullModems* modems);
// The relay, in its own process; never returns.
[[noreturn]] void run_null_modem_relay(const NullModems& modems);
// Closes the simulator's copies of the descriptors (the relay and the forwarder keep theirs).
void close_null_modems(NullModems* modems);
// Removes the published links.
void unpublish_null_modems();
