// The simulator's process shape: a supervising parent with its children, the daemon and the
// serial-forwarding side (the real forwarder, with the relay of its null-modem pairs when no
// ports were given, or the stand-in). The parent owns the notice queue it created and the
// published serial links, and ends the children when SIGTERM, SIGINT or SIGHUP arrives or
// when the daemon or the forwarding side ends.
#pragma once

#include <cstdint>
#include <string>

struct ForwardingPlan {
  enum Kind { kReal, kStandIn, kNone } kind = kReal;
  std::string serial[2];  // the real forwarder's lines; empty: null-modem pairs
  bool network = false;   // the real forwarder may reach any address
};

// Opens (or creates) queue 1234, starts the forwarding side and then the daemon on
// listen_port, and waits. On SIGTERM, SIGINT or SIGHUP: sends SIGTERM to the children, reaps
// them, removes the queue when this run created it and the published links, and returns 0.
// When a child ends first, the others are ended the same way and the result is 1. -1 when
// the queue, the pairs or a child cannot be had (one line on stderr). With kNone (a test
// switch) there is only the daemon and queue 1234 is neither opened nor created nor removed.
int supervise(uint16_t listen_port, const ForwardingPlan& plan);
