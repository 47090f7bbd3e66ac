// The system log. On the device these are openlog/syslog/closelog. With a root each message
// is appended as one line "<priority> <facility> <ident>: <message>" to ROOT/var/log/messages,
// so a PC's own logger never sees the device's alert-priority messages.
#pragma once

void platform_openlog(const char* ident, int option, int facility);
void platform_syslog(int priority, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void platform_closelog();
