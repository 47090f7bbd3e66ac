#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/device_root.h"
#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    const char* path = std::getenv("PATH");
    path_ = path ? path : "";
    ASSERT_EQ(prepare_device_root(dir_.path().c_str()), 0);
    root_ = root_dir();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(cwd_), 0);
    setenv("PATH", path_.c_str(), 1);
    set_root(nullptr);
  }
  TempDir dir_;
  std::string root_;
  char cwd_[PATH_MAX];
  std::string path_;
};

TEST_F(Shell, WithARootTheDevicesProgramsAreTheStandIns) {
  // As if PATH had been reset after the root was prepared: the fence holds at every call.
  setenv("PATH", "/usr/bin:/bin", 1);
  // command -v only looks the names up; nothing runs until the lookup is proven.
  ASSERT_EQ(run_shell("for p in date systime2rtc route killall snmptrap; do command -v $p; done"
                      " > tmp/found"),
            0);
  ASSERT_EQ(read_file(root_ + "/tmp/found"),
            root_ + "/bin/date\n" + root_ + "/bin/systime2rtc\n" + root_ + "/bin/route\n" +
                root_ + "/bin/killall\n" + root_ + "/bin/snmptrap\n");

  const time_t before = time(nullptr);
  EXPECT_EQ(run_shell("date -s 2000.01.01-00:00:00 >/dev/null 2>@1"), 0);
  EXPECT_EQ(run_shell("systime2rtc >/dev/null 2>@1"), 0);
  EXPECT_GE(time(nullptr), before);
  EXPECT_EQ(read_file(root_ + "/var/log/programs.log"),
            "date -s 2000.01.01-00:00:00\nsystime2rtc\n");
  // The device's odd "2>@1" leaves a file named @1 in the working directory: the root.
  EXPECT_TRUE(file_exists(root_ + "/@1"));
}

TEST_F(Shell, RefusesWhileABareNameStandInIsMissing) {
  ASSERT_EQ(unlink((root_ + "/bin/snmptrap").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), -1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(root_ + "/bin/snmptrap"), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  EXPECT_FALSE(file_exists(root_ + "/tmp/ran"));

  // Present but not executable: the shell would walk on to the PC's own.
  ASSERT_EQ(prepare_device_root(root_.c_str()), 0);
  ASSERT_EQ(chmod((root_ + "/bin/killall").c_str(), 0644), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/bin/killall"), std::string::npos);

  ASSERT_EQ(chmod((root_ + "/bin/killall").c_str(), 0755), 0);
  EXPECT_EQ(run_shell("echo ran > tmp/ran"), 0);
  EXPECT_EQ(read_file(root_ + "/tmp/ran"), "ran\n");
}

TEST_F(Shell, WithoutARootItIsSystem) {
  set_root(nullptr);
  const int status = run_shell("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

}  // namespace
