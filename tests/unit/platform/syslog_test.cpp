#include "platform/syslog.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <filesystem>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

// Logging runs no command, so a bare root with its var/log is enough.
class Syslog : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.file("var/log"));
    ASSERT_EQ(set_root(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    platform_openlog(nullptr, 0, LOG_USER);
    platform_closelog();
    set_root(nullptr);
  }
  TempDir dir_;
};

TEST_F(Syslog, EachMessageIsOneLineInTheRootsMessages) {
  // An alert as the system raises it: no openlog, format "%s\n".
  platform_syslog(LOG_ALERT, "%s\n", "Cold Start, SysName: gw, SysLocation: lab");
  platform_openlog("stationd", 0, LOG_LOCAL0);
  platform_syslog(LOG_INFO, "%s", "two\nlines\r");
  platform_syslog(LOG_WARNING | LOG_DAEMON, "port %d", 2);
  platform_closelog();
  platform_syslog(LOG_ERR, "%s\n\n", "after close");

  EXPECT_EQ(read_file(std::string(root_dir()) + "/var/log/messages"),
            "alert user unit_platform: Cold Start, SysName: gw, SysLocation: lab\n"
            "info local0 stationd: two lines^M\n"
            "warning daemon stationd: port 2\n"
            "err local0 unit_platform: after close\n");
}

}  // namespace
