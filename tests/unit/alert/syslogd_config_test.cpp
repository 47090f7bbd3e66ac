// setSysLogd against tests/data/syslogd.txt: the start script of each SYSLOG section, and
// what the script ran.
#include "alert/syslogd_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "platform/root.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

namespace {

TEST(SyslogdConfig, EachSectionGivesItsScriptAndTheScriptRuns) {
  for (const CaseRow& row : read_case_table("syslogd.txt")) {
    SCOPED_TRACE(row.where);
    TempDir dir;
    ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
    const std::string root = root_dir(), script = root + "/sbin/run_syslog.sh";
    write_file(root + "/mnt/jffs2/station.ini", "[SYSLOG]\n" + *row[2]);
    if (!row[3]) std::filesystem::create_directory(script);
    testing::internal::CaptureStdout();
    EXPECT_EQ(setSysLogd(), std::stoi(*row[0]));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), *row[1]);
    const std::string programs = root + "/var/log/programs.log";
    if (!row[3]) {
      EXPECT_FALSE(file_exists(programs));
    } else {
      EXPECT_EQ(read_file(script), replace_all(*row[3], "ROOT", root));
      EXPECT_EQ(read_file(programs),
                "killall syslogd\nkillall klogd\n" +
                    replace_all(replace_all(*row[3], "ROOT/sbin/", ""), "ROOT", root));
    }
    set_root(nullptr);
  }
}

}  // namespace
