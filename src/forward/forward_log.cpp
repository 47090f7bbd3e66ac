#include "forward/forward_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/root.h"
#include "platform/syslog.h"

void forward_log(int priority, const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (!has_root()) {
    platform_syslog(priority, "%s", message);
    return;
  }
  char line[600];
  const std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  int n = static_cast<int>(std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S ", &local));
  n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%s\n", message);
  if (n > static_cast<int>(sizeof line) - 1) {
    n = static_cast<int>(sizeof line) - 1;
    line[n - 1] = '\n';
  }
  // One write per line with O_APPEND: lines of the two ports never interleave.
  const int fd = ::open(rooted("/var/log/stationfwd.log").c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, line, static_cast<std::size_t>(n)) < 0) {
  }
  ::close(fd);
}
