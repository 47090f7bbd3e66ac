// The factory initialisation and the default export against tests/data/defaults.txt: the
// EEPROM bytes, station.ini keys, output and device programs of each routine on each run.
#include "storage/defaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/device_root.h"
#include "platform/i2c_port.h"
#include "platform/root.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

namespace {

// text with every "{name}" replaced by value.
std::string with(const std::string& text, const std::string& name, const std::string& value) {
  return replace_all(text, "{" + name + "}", value);
}
std::string with(const std::string& text, const std::string& name, int value) {
  return with(text, name, std::to_string(value));
}

// The keys a row stands for, each with its section and port (0 for a device-wide key): {n}
// takes the ports 1..2, {k} the UDP destinations 1..8 and {j} 2..8.
std::vector<std::tuple<std::string, std::string, int>> names(const std::string& section,
                                                             const std::string& keys) {
  std::vector<std::tuple<std::string, std::string, int>> out;
  const bool per_port = section.find("{n}") != std::string::npos;
  for (int n = per_port; n <= 2 * per_port; ++n) {
    std::istringstream list(keys);
    for (std::string key; std::getline(list, key, ',');)
      for (int k = 1; k <= 8; ++k) {
        const bool all = key.find("{k}") != std::string::npos;
        const bool from2 = key.find("{j}") != std::string::npos;
        if (all || (from2 && k > 1) || (!all && !from2 && k == 1))
          out.emplace_back(with(section, "n", n), with(with(key, "k", k), "j", k), n);
      }
  }
  return out;
}

TEST(Defaults, EachRoutineWritesTheFieldsAndKeysOfItsColumnAndNothingElse) {
  const std::vector<CaseRow> table = read_case_table("defaults.txt");
  std::string unit(8192, '\xFF');
  for (const CaseRow& row : table)
    if (*row[0] == "unit") unit.replace(std::stoul(*row[1]), row[2]->size(), *row[2]);

  bool first_run = true;
  for (const CaseRow& run : table) {
    if (*run[0] != "run") continue;
    std::string manufactured = unit;
    if (run[1]) manufactured.replace(10, 16, (*run[1] + std::string(16, '\0')).substr(0, 16));
    manufactured[189] = static_cast<char>(std::stoi(*run[2]));
    // The factory routine reads neither the model name nor the IP mode: it runs once.
    for (const std::string routine : {"factory", "load"}) {
      if (routine == "factory" && !std::exchange(first_run, false)) continue;
      SCOPED_TRACE(run.where + " " + routine);
      TempDir dir;
      ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
      set_i2c_pause([](unsigned) {});
      write_file(dir.file("dev/i2c-0"), manufactured);
      testing::internal::CaptureStdout();
      routine == "load" ? load_default_settings() : (void)factory_initialize();
      const std::string out = testing::internal::GetCapturedStdout();

      std::string image = manufactured;
      int written = 0;
      for (const CaseRow& row : table) {
        SCOPED_TRACE(row.where);
        if (*row[0] == routine && *row[1] == "out") {
          EXPECT_EQ(out, *row[2]);
          EXPECT_EQ(read_file(dir.file("var/log/programs.log")), *row[3]);
        } else if (*row[0] == routine) {
          const std::size_t to = std::stoul(*row[2]);
          image.replace(to, *row[1] == "bytes" ? row[3]->size() : std::stoul(*row[4]),
                        *row[1] == "bytes"
                            ? *row[3]
                            : manufactured.substr(std::stoul(*row[3]), std::stoul(*row[4])));
        }
        if (*row[0] != "ini") continue;
        const std::optional<std::string>& value = row[routine == "load" ? 3 : 4];
        for (const auto& [section, key, n] : names(*row[1], *row[2])) {
          char got[64];
          const bool found = read_profile_string(section.c_str(), key.c_str(), got, sizeof got,
                                                 nullptr, rooted(kStationIniPath).c_str());
          std::optional<std::string> expected = value;
          if (value) expected = with(with(with(*value, "P", 4659 + n), "U", *run[3]), "M", *run[4]);
          EXPECT_EQ(found ? std::optional<std::string>(got) : std::nullopt, expected)
              << section << " " << key;
          written += value.has_value();
        }
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

}  // namespace
