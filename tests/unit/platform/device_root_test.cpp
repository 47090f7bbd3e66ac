// The prepared device root and run_shell's fence around the device's programs.
#include "platform/device_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/root.h"
#include "platform/shell.h"
#include "support/temp_dir.h"

namespace {

// Puts back the working folder and PATH that preparing a root changes.
class DeviceRoot : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr); }
  void TearDown() override {
    ASSERT_EQ(chdir(cwd_), 0);
    setenv("PATH", path_.c_str(), 1);
    set_root(nullptr);
  }
  std::string prepared() {
    EXPECT_EQ(prepare_device_root(dir_.file("root").c_str()), 0);
    return root_dir();
  }
  TempDir dir_;
  char cwd_[PATH_MAX];
  std::string path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
};

TEST_F(DeviceRoot, CreatesWhatIsMissingAndUsesWhatExists) {
  const std::string root = dir_.file("dev-root");
  std::filesystem::create_directories(root + "/bin");
  std::filesystem::create_directories(root + "/etc");
  write_file(root + "/bin/route", "#!/bin/sh\necho own route\n");
  write_file(root + "/etc/resolv.conf", "nameserver 127.0.0.1\n");

  ASSERT_EQ(prepare_device_root(root.c_str()), 0);
  const std::string real = root_dir();
  for (const char* folder : {"/mnt/jffs2", "/dev", "/tmp", "/var/log", "/sbin", "/usr/sbin"})
    EXPECT_TRUE(std::filesystem::is_directory(real + folder)) << folder;
  EXPECT_EQ(read_file(real + "/bin/route"), "#!/bin/sh\necho own route\n");
  EXPECT_EQ(read_file(real + "/etc/resolv.conf"), "nameserver 127.0.0.1\n");
  EXPECT_EQ(std::filesystem::current_path(), real);
  EXPECT_EQ(std::string(std::getenv("PATH")).rfind(real + "/bin:", 0), 0u);

  // A second, relative, root: made absolute, with the PC's resolv.conf linked in, and its bin
  // replaces the first root's in front of PATH.
  ASSERT_EQ(prepare_device_root("second"), 0);
  EXPECT_EQ(std::string(root_dir()), real + "/second");
  EXPECT_EQ(std::filesystem::read_symlink(real + "/second/etc/resolv.conf"), "/etc/resolv.conf");
  const std::string path = std::getenv("PATH");
  EXPECT_EQ(path.rfind(real + "/second/bin:", 0), 0u);
  EXPECT_EQ(path.find(real + "/bin:"), std::string::npos);
}

// The daemon's alerts prove what the stand-ins record; a copied root, as every integration
// test uses, must record into its own log.
TEST_F(DeviceRoot, StandInsOfACopiedRootRecordInTheCopy) {
  const std::string first = prepared();
  ASSERT_EQ(run_shell("systime2rtc"), 0);
  const std::string copy = dir_.file("copy");
  std::filesystem::copy(first, copy,
                        std::filesystem::copy_options::recursive |
                            std::filesystem::copy_options::copy_symlinks);
  ASSERT_EQ(prepare_device_root(copy.c_str()), 0);
  ASSERT_EQ(run_shell("killall syslogd"), 0);
  EXPECT_EQ(read_file(first + "/var/log/programs.log"), "systime2rtc\n");
  EXPECT_EQ(read_file(copy + "/var/log/programs.log"), "systime2rtc\nkillall syslogd\n");
}

TEST_F(DeviceRoot, NoRootOrThePcsOwnIsRefused) {
  for (const char* dir : {"", "/", "//", "/tmp/.."}) EXPECT_EQ(prepare_device_root(dir), -1) << dir;
  EXPECT_EQ(prepare_device_root(nullptr), -1);
  EXPECT_EQ(prepare_device_root(dir_.file("a b").c_str()), -1);
  EXPECT_EQ(prepare_device_root(dir_.file("x;y").c_str()), -1);
  EXPECT_FALSE(has_root());
  EXPECT_FALSE(file_exists(dir_.file("a b")));

  const int pc = device_build() ? 0 : -1;
  for (const char* root : {"", "/", "///", "/tmp/.."}) EXPECT_EQ(refuse_pc_without_root(root), pc);
  EXPECT_EQ(refuse_pc_without_root(nullptr), pc);
  EXPECT_EQ(refuse_pc_without_root(dir_.path().c_str()), 0);
}

TEST_F(DeviceRoot, ShellFindsOnlyTheStandInsEvenAfterPathIsReset) {
  const std::string root = prepared();
  setenv("PATH", "/usr/bin:/bin", 1);
  // command -v only looks the names up; nothing runs until the lookup is proven.
  ASSERT_EQ(run_shell("for p in date systime2rtc route killall snmptrap; do command -v $p; done"
                      " > tmp/found"),
            0);
  ASSERT_EQ(read_file(root + "/tmp/found"),
            root + "/bin/date\n" + root + "/bin/systime2rtc\n" + root + "/bin/route\n" + root +
                "/bin/killall\n" + root + "/bin/snmptrap\n");

  const time_t before = time(nullptr);
  EXPECT_EQ(run_shell("date -s 2000.01.01-00:00:00 >/dev/null 2>@1"), 0);
  EXPECT_EQ(run_shell("systime2rtc >/dev/null 2>@1"), 0);
  EXPECT_GE(time(nullptr), before);
  EXPECT_EQ(read_file(root + "/var/log/programs.log"), "date -s 2000.01.01-00:00:00\nsystime2rtc\n");
  // The device's odd "2>@1" leaves a file named @1 in the working directory: the root.
  EXPECT_TRUE(file_exists(root + "/@1"));

  set_root(nullptr);  // without a root run_shell is system()
  const int status = run_shell("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST_F(DeviceRoot, ShellRefusesWhileABareNameStandInIsMissingOrNotExecutable) {
  const std::string root = prepared();
  ASSERT_EQ(unlink((root + "/bin/snmptrap").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), -1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(root + "/bin/snmptrap"), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  EXPECT_FALSE(file_exists(root + "/tmp/ran"));

  // Present but not executable: the shell would walk on to the PC's own.
  ASSERT_EQ(prepare_device_root(root.c_str()), 0);
  ASSERT_EQ(chmod((root + "/bin/killall").c_str(), 0644), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/bin/killall"), std::string::npos);

  ASSERT_EQ(chmod((root + "/bin/killall").c_str(), 0755), 0);
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), 0);
  EXPECT_EQ(read_file(root + "/tmp/ran"), "ran\n");
}

}  // namespace
