#include "alert/syslogd_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size())
    text.replace(p, from.size(), to);
  return text;
}

class SyslogdConfig : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0); }
  void TearDown() override { set_root(nullptr); }
  std::string at(const std::string& path) const { return dir.path() + path; }
  TempDir dir;
};

TEST_F(SyslogdConfig, ScriptLinesForEachKeyPairAndTheDaemonsItStarts) {
  struct {
    const char *keys, *script;  // the script with R for the root
  } const cases[] = {
      {"", "R/sbin/syslogd -l 1 -L -O R/var/log/syslog -s 10 -b 5\nR/sbin/klogd -0\n"},
      {"log_to_flash=1\nenable_syslog_server=1\nsyslog_ip=127.0.0.9\nsyslog_port=514\n"
       "log_level=7\n",
       "R/sbin/syslogd -l 8 -L -O R/mnt/jffs2/log -s 10 -b 5 -R 127.0.0.9:514\n"
       "R/sbin/klogd -0\n"},
      {"log_to_flash=0\nenable_syslog_server=1\nsyslog_ip=127.0.0.9\nsyslog_port=514\n",
       "R/sbin/syslogd -l 1 -R 127.0.0.9:514\n"
       "R/sbin/syslogd -l 1 -L -O R/var/log/syslog -s 10 -b 5 -R 127.0.0.9:514\n"
       "R/sbin/klogd -0\n"},
      {"log_to_flash=1\nlog_level=2\n",
       "R/sbin/syslogd -l 3 -L -O R/mnt/jffs2/log -s 10 -b 5\nR/sbin/klogd -0\n"},
      {"log_to_flash=2\nenable_syslog_server=0\n", ""},
      {"log_to_flash=0\nenable_syslog_server=2\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    write_file(at("/mnt/jffs2/station.ini"), std::string("[SYSLOG]\n") + c.keys);
    std::filesystem::remove(at("/var/log/programs.log"));
    EXPECT_EQ(setSysLogd(), 0);

    const std::string script = replace_all(c.script, "R/", dir.path() + "/");
    EXPECT_EQ(read_file(at("/sbin/run_syslog.sh")), script);
    struct stat st;
    ASSERT_EQ(stat(at("/sbin/run_syslog.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    // The stand-ins record their device names: the script ran what it holds.
    EXPECT_EQ(read_file(at("/var/log/programs.log")),
              "killall syslogd\nkillall klogd\n" +
                  replace_all(replace_all(c.script, "R/sbin/", ""), "R/", dir.path() + "/"));
  }
}

TEST_F(SyslogdConfig, AScriptThatCannotBeOpenedLeavesTheDaemonsAlone) {
  std::filesystem::create_directory(at("/sbin/run_syslog.sh"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(setSysLogd(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "File open error !!\n");
  EXPECT_FALSE(file_exists(at("/var/log/programs.log")));
}

}  // namespace
