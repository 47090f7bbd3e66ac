// The daemon's start: builds both PortRecords and the SnmpIdentity block from station.ini,
// then serves the control protocol until the process is killed. The device's stationd and
// the PC simulator both call daemon_main; only the listening port differs.
#pragma once

#include <cstdint>

// Standard descriptors that are closed are opened on /dev/null (so accept never yields 0),
// SIGPIPE is ignored (a vanished peer only makes a send fail), the PortTable is allocated
// zero-filled and loaded, the SnmpIdentity block is loaded, and the control-session loop
// runs on listen_port. Returns 0 after the loop returns, 1 when the PortTable cannot be
// allocated.
int daemon_main(uint16_t listen_port);
