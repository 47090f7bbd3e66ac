#include "storage/inifile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/temp_dir.h"

// Fails the n-th array new(nothrow) from now on (1 = the next one); 0 never fails. Replacing
// this allocation function is how a test takes the working buffers away from the library.
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

struct Ini {
  TempDir dir;
  std::string path = dir.file("station.ini");
  // The value read, or "<none>" when the read returns 0.
  std::string get(const char* section, const char* key) const {
    char value[128];
    if (read_profile_string(section, key, value, sizeof value, nullptr, path.c_str()) != 1)
      return "<none>";
    return value;
  }
  int set(const char* s, const char* k, const char* v) const {
    return write_profile_string(s, k, v, path.c_str());
  }
};

TEST(IniFile, ReadsTakeEveryByteLiterally) {
  const char* text =
      "[S]\n\n  E=\nK = V\n;C=1\nN\n=x\nT=V ;note\nk=lower\n[+S]\nP=1\n[A\n[B]\nQ=2\n"
      "[R]\r\nA=1\r\nA=2\r\n[R]\nB=3\n";
  // clang-format off
  const std::vector<std::vector<const char*>> cases = {
      {"S", "E", ""}, {"S", "K", nullptr}, {"S", "K ", " V"}, {"S", "C", nullptr},
      {"S", ";C", nullptr}, {"S", "N", nullptr}, {"S", "T", "V ;note"}, {"S", "k", "lower"},
      {"s", "k", nullptr}, {"S", "P", nullptr}, {"+S", "P", "1"}, {"R", "A", "1"}, {"R", "B", "3"},
      // A header name runs to the next ']' across line ends: [B] hides inside "A\n[B".
      {"B", "Q", nullptr}, {"A\n[B", "Q", "2"}};
  // clang-format on
  Ini ini;
  write_file(ini.path, text);
  for (const auto& c : cases)
    EXPECT_EQ(ini.get(c[0], c[1]), c[2] ? c[2] : "<none>") << c[0] << "/" << c[1];
  EXPECT_EQ(read_profile_int("S", "E", 7, ini.path.c_str()), 0);  // present: not the default
}

TEST(IniFile, WritesChangeOnlyWhatTheyMust) {
  // before (nullptr: no file), section, key, value, file after the write
  const std::vector<std::vector<const char*>> cases = {
      {nullptr, "S", "K", "V", "[S]\nK=V\n"},
      {"", "S", "K", "V", "[S]\nK=V\n"},
      {"a=1", "S", "K", "V", "a=1\n[S]\nK=V\n"},
      {"a=1\n", "S", "K", "V", "a=1\n\n[S]\nK=V\n"},
      {"[T]\nx=1\n[S]", "S", "K", "V", "[T]\nx=1\n[S]K=V\n"},
      {"[S]\r\nA=1\r\nB=2\r\n", "S", "B", "33", "[S]\r\nA=1\r\nB=33\r\n"},
      {"[S]\r\nA=1\r\n", "S", "C", "3", "[S]\r\nC=3\nA=1\r\n"},
      {"[S]\nK=1\nK=2\n[S]\nJ=4\n", "S", "K", "", "[S]\nK=\nK=2\n[S]\nJ=4\n"},
      {"[S]\nK=1\n[T]\n[S]\nJ=4\n", "S", "N", "5", "[S]\nK=1\n[T]\n[S]\nN=5\nJ=4\n"}};
  for (const auto& c : cases) {
    Ini ini;
    if (c[0]) write_file(ini.path, c[0]);
    EXPECT_EQ(ini.set(c[1], c[2], c[3]), 1);
    EXPECT_EQ(read_file(ini.path), c[4]) << (c[0] ? c[0] : "(no file)");
  }
  Ini ini;
  write_file(ini.path, "[S]\n");
  EXPECT_EQ(ini.set("x]y", "K", "1") + ini.set("S", "a=b", "1") + ini.set("S", "L", "1\n2"), 3);
  EXPECT_EQ(ini.get("x]y", "K") + ini.get("S", "a=b") + ini.get("S", "L"), "<none><none>1");
  EXPECT_EQ(write_profile_string("S", "K", "V", ini.dir.file("no/dir.ini").c_str()), 0);
}

TEST(IniFile, ValueBufferAndDefaultsFollowStrncpy) {
  Ini ini;
  write_file(ini.path, "[S]\nK=abcdef\nF=2.5\nI=-12x\n");
  const auto read = [&](const char* key, int size, const char* def) {
    char v[8];
    std::memset(v, '#', sizeof v);
    const int found = read_profile_string("S", key, v, size, def, ini.path.c_str());
    return std::to_string(found) + std::string(v, sizeof v);
  };
  EXPECT_EQ(read("K", 4, "zz"), std::string("1abc\0####", 9));
  EXPECT_EQ(read("X", 4, "z"), std::string("0z\0\0\0####", 9));
  EXPECT_EQ(read("X", 2, "xyz"), "0xy######");
  EXPECT_EQ(read("X", 8, nullptr), "0########");
  EXPECT_EQ(read_profile_float("S", "F", 0, ini.path.c_str()), 2.5f);
  EXPECT_EQ(read_profile_int("S", "I", 0, ini.path.c_str()), -12);

  char text[] = " a,,b  c,";
  char out[4][8] = {};
  char* tokens[4] = {out[0], out[1], out[2], out[3]};
  EXPECT_EQ(split_tokens(text, tokens, ", "), 3);
  EXPECT_EQ(std::string(out[0]) + out[1] + out[2], "abc");
  EXPECT_EQ(split_tokens(nullptr, tokens, ","), 0);
}

TEST(IniFile, OversizeAndNulFilesAreNeverRewritten) {
  Ini ini;
  // 65,535 bytes is the largest text: a write may keep that size, never pass it.
  const std::string head = "[S]\nK=1\n;";
  std::string full = head + std::string(65535 - head.size() - 1, 'x') + "\n";
  write_file(ini.path, full);
  EXPECT_EQ(ini.get("S", "K"), "1");
  EXPECT_EQ(ini.set("S", "K", "22") + ini.set("S", "N", "1") + ini.set("T", "K", "1"), 0);
  EXPECT_EQ(read_file(ini.path), full);
  write_file(ini.path, full.substr(0, head.size()) + full.substr(head.size() + 1));
  EXPECT_EQ(ini.set("S", "K", "22"), 1);
  EXPECT_EQ(read_file(ini.path).size(), 65535u);

  // 65,536 bytes: read as a missing file, never rewritten.
  full += "y";
  write_file(ini.path, full);
  std::vector<char> buffer(kIniBufferSize);
  int length = -1;
  EXPECT_EQ(load_ini_file(ini.path.c_str(), buffer.data(), &length), kIniTooLarge);
  EXPECT_EQ(read_profile_int("S", "K", 7, ini.path.c_str()), 7);
  EXPECT_EQ(ini.set("S", "K", "2"), 0);
  EXPECT_EQ(read_file(ini.path), full);

  // A NUL ends the text for reads; writes refuse the file.
  const std::string nul("[S]\nA=1\n\0B=2\n", 13);
  write_file(ini.path, nul);
  EXPECT_EQ(load_ini_file(ini.path.c_str(), buffer.data(), &length), kIniHoldsNul);
  EXPECT_EQ(length, 8);  // the text before the NUL
  EXPECT_EQ(ini.get("S", "A") + ini.get("S", "B"), "1<none>");
  EXPECT_EQ(ini.set("S", "A", "5"), 0);
  EXPECT_EQ(read_file(ini.path), nul);
}

TEST(IniFile, MissingWorkingBufferIsReportedAndChangesNothing) {
  Ini ini;
  write_file(ini.path, "[S]\nK=1\n");
  char v[4] = "old";
  const std::string warning = "Warning: No buffer to process ini files\nIngore this ";
  testing::internal::CaptureStdout();
  g_fail_nothrow_new = 1;
  EXPECT_EQ(read_profile_string("S", "K", v, 4, "def", ini.path.c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), warning + "read_profile_string\n");
  EXPECT_STREQ(v, "old");
  for (int nth : {1, 2}) {
    testing::internal::CaptureStdout();
    g_fail_nothrow_new = nth;
    EXPECT_EQ(ini.set("S", "K", "2"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), warning + "write_profile_string\n");
  }
  g_fail_nothrow_new = 0;
  EXPECT_EQ(read_file(ini.path), "[S]\nK=1\n");
}

}  // namespace
