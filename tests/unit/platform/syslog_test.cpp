// The system log under a root: one line per message in ROOT/var/log/messages.
#include "platform/syslog.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <filesystem>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

TEST(Syslog, EachMessageIsOneLineWithItsPriorityFacilityAndIdent) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("var/log"));
  ASSERT_EQ(set_root(dir.path().c_str()), 0);
  platform_syslog(LOG_ALERT, "%s\n", "Cold Start, SysName: gw");  // as alerts log: no openlog
  platform_openlog("stationd", 0, LOG_LOCAL0);
  platform_syslog(LOG_INFO, "%s", "two\nlines\r");
  platform_syslog(LOG_WARNING | LOG_DAEMON, "port %d", 2);
  platform_closelog();
  platform_syslog(LOG_ERR, "%s\n\n", "after close");
  platform_openlog("x", LOG_PID, 0);
  platform_syslog(LOG_DEBUG, "%s", "");
  EXPECT_EQ(read_file(dir.file("var/log/messages")),
            "alert user unit_platform: Cold Start, SysName: gw\n"
            "info local0 stationd: two lines^M\n"
            "warning daemon stationd: port 2\n"
            "err local0 unit_platform: after close\n"
            "debug local0 x[" +
                std::to_string(getpid()) + "]: \n");
  platform_openlog(nullptr, 0, LOG_USER);
  platform_closelog();
  set_root(nullptr);
}
