#include "alert/syslogd_config.h"

#include <cstdint>
#include <cstdio>

#include "platform/root.h"
#include "platform/shell.h"
#include "platform/syslog.h"
#include "storage/station_ini.h"

namespace {
constexpr const char kScript[] = "/sbin/run_syslog.sh";
constexpr const char kSyslogd[] = "/sbin/syslogd";
constexpr const char kKlogd[] = "/sbin/klogd";
constexpr const char kFlashLog[] = "/mnt/jffs2/log";
constexpr const char kRamLog[] = "/var/log/syslog";
}  // namespace

int setSysLogd() {
  // The keys are 16-bit values of the device's syslog set-up.
  const uint16_t to_flash = static_cast<uint16_t>(get_log_to_flash());
  const uint16_t level = static_cast<uint16_t>(get_log_level());
  const uint16_t to_server = static_cast<uint16_t>(get_enable_syslog_server());
  unsigned char server[4] = {};
  get_syslog_ip(server);
  const uint16_t port = static_cast<uint16_t>(get_syslog_port());
  const RootedPath log_file = rooted(to_flash == 1 ? kFlashLog : kRamLog);

  const RootedPath script_path = rooted(kScript);
  std::FILE* script = std::fopen(script_path.c_str(), "w");
  if (!script) {
    std::puts("File open error !!");
    return -1;
  }
  run_shell("killall syslogd");
  run_shell("killall klogd");

  char level_option[16], local_option[kRootedPathMax + 32], remote_option[32];
  std::snprintf(level_option, sizeof level_option, "-l %d", level + 1);
  std::snprintf(local_option, sizeof local_option, "-L -O %s -s %d -b %d", log_file.c_str(), 10, 5);
  std::snprintf(remote_option, sizeof remote_option, "-R %d.%d.%d.%d:%d", server[0], server[1],
                server[2], server[3], port);

  const RootedPath syslogd = rooted(kSyslogd);
  bool daemon_line = true;
  if ((to_flash == 0 || to_flash == 1) && to_server == 0) {
    std::fprintf(script, "%s %s %s\n", syslogd.c_str(), level_option, local_option);
  } else if (to_flash == 0 && to_server == 1) {
    // Remote only first, then local and remote: the device's daemon is started twice.
    std::fprintf(script, "%s %s %s\n", syslogd.c_str(), level_option, remote_option);
    std::fprintf(script, "%s %s %s %s\n", syslogd.c_str(), level_option, local_option,
                 remote_option);
  } else if (to_flash == 1 && to_server == 1) {
    std::fprintf(script, "%s %s %s %s\n", syslogd.c_str(), level_option, local_option,
                 remote_option);
  } else {
    daemon_line = false;  // any other pair: a script that starts nothing
  }
  if (daemon_line) std::fprintf(script, "%s -%d\n", rooted(kKlogd).c_str(), 0);
  std::fclose(script);

  char command[kRootedPathMax + 16];
  std::snprintf(command, sizeof command, "chmod 755 %s", script_path.c_str());
  run_shell(command);
  run_shell(script_path.c_str());
  return 0;
}

void writeSysLog(const char* ident, int facility, int priority, const char* text) {
  platform_openlog(ident, 0, facility);
  platform_syslog(priority, "%s", text);
  platform_closelog();
}
