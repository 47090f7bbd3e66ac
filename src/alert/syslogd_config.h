// The device's own system logger: turns station.ini's SYSLOG section into the start script
// /sbin/run_syslog.sh and restarts the syslog and kernel-log daemons with it, and sends single
// messages under a chosen identity. Paths in the script and the commands go through the root.
#pragma once

// Writes, makes executable and runs the start script after stopping both daemons. 0, or -1
// with "File open error !!" on standard output when the script cannot be opened.
int setSysLogd();
// One message under ident and facility (openlog's values) with priority (syslog's).
void writeSysLog(const char* ident, int facility, int priority, const char* text);
