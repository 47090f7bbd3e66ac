// The INI library against its case table, tests/data/inifile.txt: each row is one call on a
// file as the row gives it, with what the call gives back, prints and leaves in the file.
#include "storage/inifile.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
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

constexpr int kNoMounts = 99;

// A file for a failure message: a long text is cut, with its size.
std::string shown(const std::optional<std::string>& text) {
  if (!text) return "(no file)";
  return text->size() < 200 ? *text : text->substr(0, 60) + "... " + std::to_string(text->size());
}

// Runs call in a child with mounts of its own: the folder read-only ("ro") or a tmpfs of one
// page holding the file ("full"). The call's result and the file it leaves, or kNoMounts.
int with_mounts(const std::string& mode, const TempDir& dir, const std::string& text,
                const std::function<int()>& call, std::optional<std::string>* after) {
  int out[2];
  if (pipe(out) != 0) return kNoMounts;
  const pid_t child = fork();
  if (child == 0) {
    const char* d = dir.path().c_str();
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        (mode == "full"
             ? mount("tmpfs", d, "tmpfs", 0, "size=4096")
             : mount(d, d, nullptr, MS_BIND, nullptr) ||
                   mount(nullptr, d, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr)))
      _exit(kNoMounts);
    if (mode == "full") write_file(dir.file("station.ini"), text);
    const int result = call();
    const std::string left = read_file(dir.file("station.ini"));
    _exit(write(out[1], left.data(), left.size()) == ssize_t(left.size()) ? result : kNoMounts);
  }
  close(out[1]);
  std::string left;
  char chunk[4096];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) left.append(chunk, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  *after = left;
  return WIFEXITED(status) ? WEXITSTATUS(status) : kNoMounts;
}

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
    const char *p = path.c_str(), *section = call == "load" ? "" : row[2]->c_str(),
               *key = call == "load" ? "" : row[3]->c_str();

    std::string value(128, '#');
    std::vector<char> buffer(kIniBufferSize);
    int length = -1;
    const std::function<int()> run = [&] {
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
    std::optional<std::string> after = before;
    testing::internal::CaptureStdout();
    g_fail_nothrow_new = mode.starts_with("nomem") ? mode.back() - '0' : 0;
    int result =
        mode == "ro" || mode == "full" ? with_mounts(mode, dir, *before, run, &after) : run();
    g_fail_nothrow_new = 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              mode.starts_with("nomem")
                  ? "Warning: No buffer to process ini files\nIngore this " +
                        std::string(call == "read" ? "read" : "write") + "_profile_string\n"
                  : "");
    if (result == kNoMounts) {
      std::printf("%s: skipped, no mounts of its own\n", row.where.c_str());
      continue;
    }
    if (mode != "dir" && mode != "ro" && mode != "full" && file_exists(path))
      after = read_file(path);

    if (call == "read") {
      EXPECT_EQ(result, row[4] ? 1 : 0);
      EXPECT_EQ(value.c_str(), row[4].value_or(std::string(128, '#')));
    } else if (call == "readn") {
      EXPECT_EQ(std::to_string(result) + value.substr(0, 8), *row[6] + *row[7]);
    } else if (call == "int") {
      EXPECT_EQ(result, std::stoi(*row[5]));
    } else if (call == "float") {
      EXPECT_EQ(result, int(1000 * std::stof(*row[5])));
    } else if (call == "load") {
      EXPECT_EQ(std::to_string(result) + " " + std::to_string(length), *row[2] + " " + *row[3]);
    } else {
      EXPECT_EQ(result, std::stoi(*row[5]));
      EXPECT_TRUE(after == (row[6] ? row[6] : before)) << shown(after);
    }
  }
}

}  // namespace
