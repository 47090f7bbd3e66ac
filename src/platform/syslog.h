// The system log. On the device these are openlog/syslog/closelog. With a root each message
// is appended as one line "<priority> <facility> <ident>: <message>" to ROOT/var/log/messages,
// so a PC's own logger never sees the device's alert-priority messages.
//
// The line with a root, for example "alert user stationd: Cold Start, SysName: , ...":
// - priority: emerg, alert, crit, err, warning, notice, info or debug;
// - facility: kern, user, mail, daemon, auth, syslog, lpr, news, uucp, cron, authpriv, ftp,
//   local0..local7, or the facility's code in decimal when it has no name;
// - ident: openlog's ident, or the program's short name when openlog was not called or
//   closelog ran since; with LOG_PID it is followed by "[pid]";
// - message: the caller's format filled in; trailing newlines are dropped, an inner newline
//   becomes a space and any other control character but tab is written as ^ and a letter
//   (^M for CR), so one message is always exactly one line.
// Facility as syslog itself keeps it: user until openlog names another (0 leaves it as it
// is); closelog does not reset it; a facility in the priority argument wins for that message.
#pragma once

void platform_openlog(const char* ident, int option, int facility);
void platform_syslog(int priority, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void platform_closelog();
