// The INI library against its case table, tests/data/inifile.txt: each row is one call on a
// file as the row gives it, with what the call gives back, prints and leaves in the file.
#include "storage/inifile.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <map>
#include <new>
#include <string>
#include <vector>

#include "support/case_table.h"
#include "support/temp_dir.h"

// Fails the n-th array new(nothrow) from now on (1 = the next one); 0 never fails. This is
// how a row takes the working buffers away from the library.
static int g_fail_nothrow_new = 0;
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (g_fail_nothrow_new > 0 && --g_fail_nothrow_new == 0) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

TEST(IniFile, CallsGiveAndLeaveWhatTheCaseTableSays) {
  std::map<std::string, std::string> texts;
  for (const CaseRow& row : read_case_table("inifile.txt")) {
    SCOPED_TRACE(row.where);
    const std::string op = *row[0], call = op.substr(0, op.find('.'));
    const std::string mode = call == op ? "" : op.substr(call.size() + 1);
    if (op == "text") {
      texts[*row[1]] = *row[2];
      continue;
    }
    if (op == "split") {
      std::string text = row.text(1), joined;
      std::vector<std::vector<char>> out(8, std::vector<char>(16));
      std::vector<char*> tokens;
      for (auto& o : out) tokens.push_back(o.data());
      const int n = split_tokens(row[1] ? text.data() : nullptr, tokens.data(), row[2]->c_str());
      for (int i = 0; i < n; ++i) joined += (i ? "|" : "") + std::string(tokens[i]);
      EXPECT_EQ(joined, *row[3]);
      continue;
    }
    std::optional<std::string> before = row[1];
    if (before && before->starts_with("@")) before = texts.at(*before);
    TempDir dir;
    const std::string path = dir.file(mode == "nodir" ? "none/station.ini" : "station.ini");
    if (mode == "dir") mkdir(path.c_str(), 0755);
    if (before && mode != "full") write_file(path, *before);
    const char *p = path.c_str(), *section = row.fields.size() > 4 ? row[2]->c_str() : "",
               *key = row.fields.size() > 4 ? row[3]->c_str() : "";
    std::string value(128, '#');
    std::vector<char> buffer(kIniBufferSize);
    int length = -1;
    const auto run = [&] {
      if (call == "read") return read_profile_string(section, key, value.data(), 128, nullptr, p);
      if (call == "readn")
        return read_profile_string(section, key, value.data(), std::stoi(*row[4]),
                                   row[5] ? row[5]->c_str() : nullptr, p);
      if (call == "int") return read_profile_int(section, key, std::stoi(*row[4]), p);
      if (call == "float")
        return int(1000 * read_profile_float(section, key, std::stoi(*row[4]), p));
      if (call == "load") return load_ini_file(p, buffer.data(), &length);
      return write_profile_string(section, key, row[4]->c_str(), p);
    };

    int result;
    std::optional<std::string> after = before;
    if (mode == "ro" || mode == "full") {
      // In a child with mounts of its own: the folder read-only, or a tmpfs of one page.
      const char* d = dir.path().c_str();
      const ChildRun child = in_child([&] {
        if (unshare(CLONE_NEWNS) || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            (mode == "full"
                 ? mount("tmpfs", d, "tmpfs", 0, "size=4096")
                 : mount(d, d, nullptr, MS_BIND, nullptr) ||
                       mount(nullptr, d, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr)))
          _exit(77);
        if (mode == "full") write_file(path, *before);
        const int written = run();
        return std::to_string(written) + ":" + read_file(path);
      });
      if (child.status == 77) GTEST_SKIP() << "no mounts of its own";
      result = std::stoi(child.out);
      after = child.out.substr(child.out.find(':') + 1);
    } else {
      testing::internal::CaptureStdout();
      g_fail_nothrow_new = mode.starts_with("nomem") ? mode.back() - '0' : 0;
      result = run();
      g_fail_nothrow_new = 0;
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                mode.starts_with("nomem")
                    ? "Warning: No buffer to process ini files\nIngore this " +
                          std::string(call == "read" ? "read" : "write") + "_profile_string\n"
                    : "");
      if (mode != "dir" && file_exists(path)) after = read_file(path);
    }
    if (call == "read") {
      EXPECT_EQ(std::to_string(result) + value.c_str(),
                (row[4] ? "1" + *row[4] : "0" + std::string(128, '#')));
    } else if (call == "readn") {
      EXPECT_EQ(std::to_string(result) + value.substr(0, 8), *row[6] + *row[7]);
    } else if (call == "int" || call == "float") {
      EXPECT_EQ(result, call == "int" ? std::stoi(*row[5]) : int(1000 * std::stof(*row[5])));
    } else if (call == "load") {
      EXPECT_EQ(std::to_string(result) + " " + std::to_string(length), *row[2] + " " + *row[3]);
    } else {
      EXPECT_EQ(result, std::stoi(*row[5]));
      EXPECT_TRUE(after == (row[6] ? row[6] : before)) << after.value_or("(none)").substr(0, 80);
    }
  }
}

}  // namespace
