// The platform seam on a PC: the root prefix, the prepared device root, run_shell's fence (the
// shell finds only the stand-ins), the chip over an image file, the system log under the root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "platform/i2c_port.h"
#include "platform/root.h"
#include "platform/shell.h"
#include "platform/syslog.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

// Puts back the working folder and PATH that preparing a root changes.
class DeviceRoot : public ::testing::Test {
 protected:
  void TearDown() override {
    std::filesystem::current_path(cwd_);
    setenv("PATH", path_.c_str(), 1);
    set_root(nullptr);
  }
  TempDir dir_;
  const std::filesystem::path cwd_ = std::filesystem::current_path();
  const std::string path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
};

TEST_F(DeviceRoot, PrefixesMakesWhatIsMissingRefusesThePcsOwnAndItsShellFindsOnlyTheStandIns) {
  ASSERT_EQ(set_root("/tmp/dev-root/"), 0);  // the kernel's own paths keep theirs
  EXPECT_STREQ(rooted("/mnt/jffs2/station.ini").c_str(), "/tmp/dev-root/mnt/jffs2/station.ini");
  EXPECT_STREQ(rooted("/proc/net/route").c_str(), "/proc/net/route");
  EXPECT_STREQ(rooted("/dev/null").c_str(), "/dev/null");
  EXPECT_STREQ(rooted("/processes").c_str(), "/tmp/dev-root/processes");
  EXPECT_EQ(set_root(std::string(kRootMax + 1, 'x').c_str()) + set_root(""), -1);
  EXPECT_FALSE(has_root() || rooted("/dev/i2c-0").c_str() != "/dev/i2c-0"s);
  for (const char* dir : {"", "/", "//", "/tmp/.."}) {
    EXPECT_EQ(prepare_device_root(dir), -1) << dir;
    EXPECT_EQ(refuse_pc_without_root(dir), device_build() ? 0 : -1) << dir;
  }
  EXPECT_EQ(prepare_device_root(nullptr) + refuse_pc_without_root(nullptr),
            device_build() ? -1 : -2);
  EXPECT_EQ(prepare_device_root(dir_.file("a b").c_str()), -1);
  EXPECT_FALSE(has_root() || file_exists(dir_.file("a b")));
  EXPECT_EQ(refuse_pc_without_root(dir_.path().c_str()), 0);

  const std::string own = dir_.file("dev-root");
  std::filesystem::create_directories(own + "/bin");
  write_file(own + "/bin/route", "#!/bin/sh\necho own route\n");
  ASSERT_EQ(prepare_device_root(own.c_str()), 0);
  const std::string real = root_dir();
  EXPECT_EQ(read_file(real + "/bin/route"), "#!/bin/sh\necho own route\n");
  EXPECT_EQ(std::filesystem::read_symlink(real + "/etc/resolv.conf"), "/etc/resolv.conf");
  ASSERT_EQ(prepare_device_root("second"), 0);  // relative: made absolute, its bin in place
  EXPECT_EQ(std::string(root_dir()), real + "/second");
  EXPECT_EQ(std::string(std::getenv("PATH")).find(real + "/bin:"), std::string::npos);
  const std::string root = root_dir();  // the shell of the second, fresh root
  setenv("PATH", "/usr/bin:/bin", 1);   // a PATH reset to the usual folders
  std::string found;
  for (const char* p : {"date", "systime2rtc", "route", "killall", "snmptrap"}) {
    ASSERT_EQ(run_shell(("command -v "s + p + " >> tmp/found").c_str()), 0);
    found += root + "/bin/" + p + "\n";
  }
  ASSERT_EQ(read_file(root + "/tmp/found"), found);
  EXPECT_EQ(run_shell("date -s 2000.01.01-00:00:00 >/dev/null 2>@1"), 0);
  EXPECT_TRUE(file_exists(root + "/@1"));  // the device's odd "2>@1": a file in the root
  EXPECT_EQ(read_file(root + "/var/log/programs.log"), "date -s 2000.01.01-00:00:00\n");
  // A bare-name stand-in missing or not executable: nothing runs, and one line says why.
  for (const std::string change : {"chmod 644", "rm"}) {
    ASSERT_EQ(std::system((change + " " + root_dir() + "/bin/snmptrap").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_shell("echo ran > tmp/ran"), -1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(root + "/bin/snmptrap"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_FALSE(file_exists(root + "/tmp/ran"));
  }
  set_root(nullptr);  // without a root run_shell is system()
  EXPECT_EQ(WEXITSTATUS(run_shell("exit 3")), 3);
}

TEST(I2cPortImage, AnImageFileBehavesLikeTheChipAndACharacterDeviceIsRefusedUnderARoot) {
  TempDir tmp;
  std::string counting(8192, '\0');
  for (int i = 0; i < 8192; ++i) counting[i] = static_cast<char>(i);
  write_file(tmp.file("i2c-0"), counting);
  const I2cPort& port = i2c_port();
  const int fd = port.open(tmp.file("i2c-0").c_str(), O_RDWR | O_SYNC);
  const unsigned char address[2] = {0x1F, 0xFE}, store[3] = {0x01, 0x10, 0xAB};
  unsigned char got[4];
  EXPECT_EQ(port.write(fd, address, 2) + port.select_slave(fd, 0x51), -2);  // none, then no 0x51
  ASSERT_EQ(port.select_slave(fd, 0x50) + port.write(fd, address, 2) + port.read(fd, got, 4), 6);
  EXPECT_EQ(std::string(got, got + 4), "\xFE\xFF\x00\x01"s);  // the counter wraps at the end
  // 0x0110 := 0xAB, and the counter moves past it.
  ASSERT_EQ(port.write(fd, store, 3) + port.read(fd, got, 1) + port.close(fd), 4);
  EXPECT_EQ(char(got[0]) + read_file(tmp.file("i2c-0")).substr(0x010F, 3), "\x11\x0F\xAB\x11"s);
  // On a PC, bus address 0x50 is often a memory module's own EEPROM.
  ASSERT_EQ(set_root(tmp.path().c_str()), 0);
  EXPECT_TRUE(port.open("/dev/null", O_RDWR) == -1 && errno == ENODEV);
  set_root(nullptr);
}

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
  EXPECT_EQ(
      read_file(dir.file("var/log/messages")),
      "alert user unit_platform: Cold Start, SysName: gw\ninfo local0 stationd: two lines^M\n"
      "warning daemon stationd: port 2\nerr local0 unit_platform: after close\ndebug local0 x[" +
          std::to_string(getpid()) + "]: \n");
  platform_closelog();
  set_root(nullptr);
}

}  // namespace
