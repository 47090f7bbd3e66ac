// Factory initialisation and default export against defaults.txt; stationtool, stationtool.txt.
#include "storage/defaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/device_root.h"
#include "platform/i2c_port.h"
#include "platform/root.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

namespace {

using Value = std::optional<std::string>;

TEST(Defaults, EachRoutineWritesTheFieldsAndKeysOfItsColumnAndNothingElse) {
  const std::vector<CaseRow> table = read_case_table("defaults.txt");
  // Each key with its text from both routines ({n}, {P}, {k} filled in; a later row wins).
  std::map<std::pair<std::string, std::string>, std::pair<Value, Value>> keys;
  std::string unit(8192, '\xFF');
  for (const CaseRow& row : table) {
    if (*row[0] == "unit") unit.replace(std::stoul(*row[1]), row[2]->size(), *row[2]);
    if (*row[0] != "ini") continue;
    const bool per_port = row[1]->find("{n}") != std::string::npos;
    for (int n = per_port; n <= 2 * per_port; ++n) {
      const auto port = [&](Value v) {
        return v ? Value(replace_all(*v, "{P}", std::to_string(4659 + n))) : v;
      };
      std::istringstream list(*row[2]);
      for (std::string key; std::getline(list, key, ',');)
        for (int k = 1; k <= (key.find("{k}") == std::string::npos ? 1 : 8); ++k)
          keys[{replace_all(*row[1], "{n}", std::to_string(n)),
                replace_all(key, "{k}", std::to_string(k))}] = {port(row[3]), port(row[4])};
    }
  }

  bool factory_ran = false;  // it reads neither model name nor IP mode: once is enough
  for (const CaseRow& run : table) {
    if (*run[0] != "run") continue;
    std::string manufactured = unit;
    if (run[1]) manufactured.replace(10, 16, (*run[1] + std::string(16, '\0')).substr(0, 16));
    manufactured[189] = static_cast<char>(std::stoi(*run[2]));
    for (const std::string routine : {"factory", "load"}) {
      if (routine == "factory" && std::exchange(factory_ran, true)) continue;
      SCOPED_TRACE(run.where + " " + routine);
      TempDir dir;
      ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
      static unsigned paused;  // one pause follows each byte written
      paused = 0;
      set_i2c_pause([](unsigned) { ++paused; });
      write_file(dir.file("dev/i2c-0"), manufactured);
      testing::internal::CaptureStdout();
      routine == "load" ? load_default_settings() : (void)factory_initialize();
      const std::string out = testing::internal::GetCapturedStdout();
      EXPECT_EQ(paused, routine == "load" ? kLoadDefaultSettingsBytes : kFactoryInitializeBytes);

      std::string image = manufactured;  // as the table says each routine leaves it
      for (const CaseRow& row : table) {
        if (*row[0] != routine) continue;
        if (*row[1] == "out") {
          EXPECT_EQ(out, *row[2]);
          EXPECT_EQ(read_file(dir.file("var/log/programs.log")), *row[3]);
        } else if (*row[1] == "bytes") {
          image.replace(std::stoul(*row[2]), row[3]->size(), *row[3]);
        } else {  // copy TO FROM WIDTH
          image.replace(std::stoul(*row[2]), std::stoul(*row[4]),
                        manufactured.substr(std::stoul(*row[3]), std::stoul(*row[4])));
        }
      }
      long written = 0;
      for (const auto& [name, values] : keys) {
        Value expected = routine == "load" ? values.first : values.second, got;
        if (expected)
          expected = replace_all(replace_all(*expected, "{U}", *run[3]), "{M}", *run[4]);
        char text[64];
        if (read_profile_string(name.first.c_str(), name.second.c_str(), text, sizeof text, nullptr,
                                rooted(kStationIniPath).c_str()))
          got = text;
        EXPECT_EQ(got, expected) << name.first << " " << name.second;
        written += expected.has_value();
      }
      const std::string ini = read_file(dir.file("mnt/jffs2/station.ini"));
      EXPECT_EQ(std::count(ini.begin(), ini.end(), '='), written) << "keys beyond the table";
      const std::string got = read_file(dir.file("dev/i2c-0"));
      ASSERT_EQ(got.size(), image.size());
      EXPECT_EQ(std::mismatch(got.begin(), got.end(), image.begin()).first - got.begin(), 8192)
          << "the first EEPROM byte that differs";
      set_i2c_pause(nullptr);
      set_root(nullptr);
    }
  }
}

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
      const std::string out = read_file(scratch.file("out")), want = *row[2];
      EXPECT_EQ(want.starts_with("~") && out.find(want.substr(1)) != std::string::npos ? want : out,
                want);
      EXPECT_EQ(read_file(scratch.file("err")), *row[3]);
    }
  }
}

}  // namespace
