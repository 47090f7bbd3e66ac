// The control-session loop: one TCP listener, one management client at a time, blocking
// calls. Greets each client, drops its data until a buffer begins with IAC SB, then hands
// every received buffer to the dispatcher and sends the collected replies in one piece.
// Owns the listening and client sockets and its two buffers.
#pragma once

#include <cstdint>

#include "model/port_record.h"
#include "protocol/wire_format.h"

constexpr int kControlBacklog = 1;

// Returns only when one of its two buffers cannot be allocated.
void control_session_loop(PortTable* table, uint16_t listen_port);
