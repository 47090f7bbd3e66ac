// stationfwd's loop: one thread, poll, nothing blocking. It owns the change-notice queue
// (created when missing, always emptied), the watch on station.ini and the two ports, and
// reloads the settings on a notice or a change of the file, at most 200 ms after it.
#pragma once

#include <csignal>

struct ForwardOptions {
  const char* serial_paths[2];  // COM1, COM2
  int queue_key;
  // Set (by a signal handler) to end the loop; the ports are closed before it returns.
  volatile std::sig_atomic_t* stop;
};

// Runs until *options.stop is set. 0, or 1 when the queue cannot be had at all.
int run_forward_loop(const ForwardOptions& options);
