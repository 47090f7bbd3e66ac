// The serial-forwarding loop as a process runs it, stationfwd or the simulator's forwarder
// child: until SIGTERM or SIGINT.
#pragma once

#include <signal.h>

#include <string>

#include "forward/destination_fence.h"
#include "forward/forward_loop.h"

// Forwards between the two serial lines and the network; network opens the destination
// fence. The loop's result.
inline int forward_until_stopped(const std::string (&serial)[2], int queue_key, bool network) {
  static volatile std::sig_atomic_t stop = 0;
  struct sigaction on_stop{};
  on_stop.sa_handler = [](int) { stop = 1; };
  sigaction(SIGTERM, &on_stop, nullptr);
  sigaction(SIGINT, &on_stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (network) open_destination_fence();
  return run_forward_loop({{serial[0].c_str(), serial[1].c_str()}, queue_key, &stop});
}
