// The simulator's stand-in for the serial-forwarding side: it owns message queue 1234 as the
// device's forwarding program does, reads every change notice and appends its text, the
// port number, as one line to ROOT/var/log/forwarder.log.
#pragma once

// Reads notices from the queue until it is removed; each text (up to its first NUL) becomes
// one line of the log. Runs in its own process and never returns.
[[noreturn]] void run_forwarder(int queue_id);
