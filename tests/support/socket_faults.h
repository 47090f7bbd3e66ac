// Fault wrapping for the control service's socket calls in tests: while on, each send and
// receive through chk_send/chk_recv is, by a seeded random draw, passed on whole, cut short
// (at least one byte still moves) or failed with ECONNRESET. Owns the draw and the counts.
#pragma once

struct SocketFaultCounts {
  int whole = 0;
  int short_sends = 0;
  int short_receives = 0;
  int resets = 0;
};

void socket_faults_on(unsigned seed);
// Back to plain calls; safe inside a signal handler.
void socket_faults_off();
const SocketFaultCounts& socket_fault_counts();
