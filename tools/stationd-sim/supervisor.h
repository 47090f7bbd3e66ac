// The simulator's process shape: a supervising parent with two children, the daemon and the
// serial-forwarding stand-in. The parent owns the notice queue it created and ends both
// children when SIGTERM, SIGINT or SIGHUP arrives or when either child ends.
#pragma once

#include <cstdint>

// Opens (or creates) queue 1234, starts the forwarder and then the daemon on listen_port,
// and waits. On SIGTERM, SIGINT or SIGHUP: sends SIGTERM to both children, reaps them,
// removes the queue when this run created it and returns 0. When a child ends first, the
// other is ended the same way and the result is 1. -1 when the queue or a child cannot be
// had (one line on stderr). Without with_forwarder (a test switch) there is only the daemon
// and queue 1234 is neither opened nor created nor removed.
int supervise(uint16_t listen_port, bool with_forwarder);
