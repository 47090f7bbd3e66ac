#include "platform/syslog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/root.h"

namespace {

constexpr const char* kPriorities[] = {"emerg",   "alert",  "crit", "err",
                                       "warning", "notice", "info", "debug"};
constexpr const char* kFacilities[] = {"kern",   "user",   "mail",   "daemon", "auth",
                                       "syslog", "lpr",    "news",   "uucp",   "cron",
                                       "authpriv", "ftp",  nullptr,  nullptr,  nullptr,
                                       nullptr,  "local0", "local1", "local2", "local3",
                                       "local4", "local5", "local6", "local7"};

// What openlog set, for the root's log file.
char g_ident[64] = "";  // empty: the program's short name
int g_option = 0;
int g_facility = LOG_USER;

constexpr std::size_t kMessageMax = 2048;

// Copies the message into out as one line: trailing newlines go, an inner newline becomes a
// blank, other control characters but tab become ^X, as the device's syslog daemon shows them.
std::size_t one_line(const char* message, char* out, std::size_t size) {
  std::size_t end = std::strlen(message);
  while (end > 0 && message[end - 1] == '\n') --end;
  std::size_t n = 0;
  for (std::size_t i = 0; i < end && n + 2 < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(message[i]);
    if (c == '\n') {
      out[n++] = ' ';
    } else if (c < 0x20 && c != '\t') {
      out[n++] = '^';
      out[n++] = static_cast<char>(c + '@');
    } else {
      out[n++] = static_cast<char>(c);
    }
  }
  out[n] = '\0';
  return n;
}

void append_to_root_log(int priority, const char* message) {
  const int facility = (priority & LOG_FACMASK) ? (priority & LOG_FACMASK) : g_facility;
  const int code = LOG_FAC(facility);
  char facility_name[16];
  if (code >= 0 && code < static_cast<int>(sizeof kFacilities / sizeof *kFacilities) &&
      kFacilities[code])
    std::snprintf(facility_name, sizeof facility_name, "%s", kFacilities[code]);
  else
    std::snprintf(facility_name, sizeof facility_name, "%d", code);

  char ident[96];
  const char* name = g_ident[0] ? g_ident : program_invocation_short_name;
  if (g_option & LOG_PID)
    std::snprintf(ident, sizeof ident, "%s[%d]", name, static_cast<int>(getpid()));
  else
    std::snprintf(ident, sizeof ident, "%s", name);

  char text[kMessageMax];
  one_line(message, text, sizeof text);
  char line[kMessageMax + 160];
  int n = std::snprintf(line, sizeof line, "%s %s %s: %s\n", kPriorities[LOG_PRI(priority)],
                        facility_name, ident, text);
  if (n < 0) return;
  if (n >= static_cast<int>(sizeof line)) {  // cut, but still one line
    n = static_cast<int>(sizeof line) - 1;
    line[n - 1] = '\n';
  }
  // One write with O_APPEND: lines of several processes do not interleave.
  const int fd = open(rooted("/var/log/messages").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return;
  const ssize_t ignored = write(fd, line, static_cast<std::size_t>(n));
  (void)ignored;  // the system log has no result to report a failure through
  close(fd);
}

}  // namespace

void platform_openlog(const char* ident, int option, int facility) {
  if (!has_root()) {
    openlog(ident, option, facility);
    return;
  }
  std::snprintf(g_ident, sizeof g_ident, "%s", ident ? ident : "");
  g_option = option;
  if (facility != 0 && (facility & ~LOG_FACMASK) == 0) g_facility = facility;
}

void platform_syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (!has_root()) {
    vsyslog(priority, format, args);
  } else {
    const int saved = errno;  // syslog leaves errno as it found it
    char message[kMessageMax];
    std::vsnprintf(message, sizeof message, format, args);
    append_to_root_log(priority, message);
    errno = saved;
  }
  va_end(args);
}

void platform_closelog() {
  if (!has_root()) {
    closelog();
    return;
  }
  g_ident[0] = '\0';
  g_option = 0;
}
