// What an RFC 2217 request does to a port's line for the session that asked: the settings
// it asks for, the value the answer carries, and the actions beside them (purge, break, DTR,
// RTS). Pure logic; the port carries the actions out on the real line.
#pragma once

#include <cstdint>

#include "forward/port_settings.h"
#include "forward/telnet_session.h"

// The line as the sessions left it; the port starts it from station.ini.
struct ComLineState {
  SerialSettings line;
  bool dtr = true;
  bool rts = true;
  bool brk = false;
};

inline constexpr int kPurgeFromLine = 1;  // serial data not yet sent to the network
inline constexpr int kPurgeToLine = 2;    // network data not yet written to the line

struct ComOutcome {
  uint32_t answer;       // the value for the answer (code + 100)
  bool line_changed;     // state->line differs: set the line again
  int purge;             // kPurgeFromLine | kPurgeToLine
  bool signals_changed;  // DTR, RTS or break changed: set them on the line
};

ComOutcome apply_com_request(const ComRequest& request, ComLineState* state);
