// stationtool as a process (through the emulator on the device build) against
// tests/data/stationtool.txt: its refusals and its commands on one device root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

namespace {

TEST(Stationtool, RefusesBadArgumentsAndRunsEachCommandOnTheRoot) {
  TempDir scratch;
  const std::string root = scratch.file("root");
  const char* emulator = std::getenv("STATION_EMULATOR");
  for (const CaseRow& row : read_case_table("stationtool.txt")) {
    SCOPED_TRACE(row.where);
    const std::string op = *row[0], path = root + "/" + row.text(1);
    if (op == "put") {
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      write_file(path, *row[2]);
    } else if (op == "file") {
      const std::optional<std::string> text = row[2];
      EXPECT_EQ(file_exists(path) ? std::optional(read_file(path)) : std::nullopt,
                text ? std::optional(replace_all(*text, "ROOT", root)) : text);
    } else if (op == "run" || !device_build()) {
      std::string command = std::string(emulator ? emulator : "") + " " +
                            std::getenv("STATION_BIN_DIR") + "/stationtool";
      for (std::size_t i = 4; i < row.fields.size(); ++i)
        command += " '" + replace_all(*row[i], "ROOT", root) + "'";
      const int status =
          std::system((command + " >" + scratch.file("out") + " 2>" + scratch.file("err")).c_str());
      EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::stoi(*row[1]));
      const std::string out = read_file(scratch.file("out")), err = read_file(scratch.file("err"));
      if (row[2]->starts_with("~"))
        EXPECT_NE(out.find(row[2]->substr(1)), std::string::npos) << out;
      else
        EXPECT_EQ(out, *row[2]);
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), std::stoi(*row[3])) << err;
    }
  }
}

}  // namespace
