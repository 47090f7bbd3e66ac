#include "platform/device_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/root.h"
#include "platform/shell.h"
#include "support/temp_dir.h"

namespace {

class DeviceRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    const char* path = std::getenv("PATH");
    path_ = path ? path : "";
  }
  void TearDown() override {
    ASSERT_EQ(chdir(cwd_), 0);
    setenv("PATH", path_.c_str(), 1);
    set_root(nullptr);
  }
  TempDir dir_;
  char cwd_[PATH_MAX];
  std::string path_;
};

bool executable_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

TEST_F(DeviceRoot, CreatesWhatIsMissingAndUsesWhatExists) {
  const std::string root = dir_.file("dev-root");
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/bin").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/etc").c_str(), 0755), 0);
  write_file(root + "/bin/route", "#!/bin/sh\necho own route\n");
  write_file(root + "/etc/resolv.conf", "nameserver 127.0.0.1\n");

  ASSERT_EQ(prepare_device_root(root.c_str()), 0);
  const std::string real = root_dir();
  for (const char* folder : {"/mnt/jffs2", "/dev", "/tmp", "/var/log", "/sbin", "/usr/sbin"})
    EXPECT_TRUE(std::filesystem::is_directory(real + folder)) << folder;
  for (const StandIn& s : kStandIns) {
    if (std::string(s.path) == "/bin/route") continue;
    EXPECT_TRUE(executable_file(real + s.path)) << s.path;
  }
  EXPECT_EQ(read_file(real + "/bin/route"), "#!/bin/sh\necho own route\n");
  EXPECT_EQ(read_file(real + "/etc/resolv.conf"), "nameserver 127.0.0.1\n");

  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), real);
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

TEST_F(DeviceRoot, StandInsRecordNameAndArgumentsInTheirOwnRoot) {
  const std::string first = dir_.file("first");
  ASSERT_EQ(prepare_device_root(first.c_str()), 0);
  const std::string mail = rooted("/usr/sbin/mail").c_str();
  const std::string klogd = rooted("/sbin/klogd").c_str();
  EXPECT_EQ(run_shell((mail + " -S 127.0.0.1 -f a@b -s \"KV7731 Alert Message\" x@y < /dev/null")
                          .c_str()),
            0);
  EXPECT_EQ(run_shell((klogd + " -0").c_str()), 0);
  EXPECT_EQ(run_shell("snmptrap -v1 -c public 127.0.0.1 0 127.0.0.2 4 0 ''"), 0);
  EXPECT_EQ(read_file(first + "/var/log/programs.log"),
            "mail -S 127.0.0.1 -f a@b -s KV7731 Alert Message x@y\n"
            "klogd -0\n"
            "snmptrap -v1 -c public 127.0.0.1 0 127.0.0.2 4 0 \n");

  // A copy of a prepared root records into its own log, not the original's.
  const std::string copy = dir_.file("copy");
  std::filesystem::copy(first, copy,
                        std::filesystem::copy_options::recursive |
                            std::filesystem::copy_options::copy_symlinks);
  ASSERT_EQ(prepare_device_root(copy.c_str()), 0);
  ASSERT_EQ(run_shell("killall syslogd"), 0);
  const std::string before = read_file(first + "/var/log/programs.log");
  EXPECT_EQ(read_file(copy + "/var/log/programs.log"), before + "killall syslogd\n");
  EXPECT_EQ(read_file(first + "/var/log/programs.log"), before);
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

}  // namespace
