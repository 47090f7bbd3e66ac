// The forwarder's own messages. On the device they go to the system log through the platform
// seam; with a root, each is one dated line of ROOT/var/log/stationfwd.log, so a PC run keeps
// them beside the simulator's other logs and never on its standard output.
#pragma once

#include <syslog.h>

void forward_log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
