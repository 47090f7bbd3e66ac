#include "storage/inifile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <optional>
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

  std::optional<std::string> get(const char* section, const char* key) const {
    char value[128];
    if (read_profile_string(section, key, value, sizeof value, nullptr, path.c_str()) != 1)
      return std::nullopt;
    return std::string(value);
  }
  int set(const char* section, const char* key, const char* value) const {
    return write_profile_string(section, key, value, path.c_str());
  }
  std::string text() const { return read_file(path); }
  void put(const std::string& text) const { write_file(path, text); }
};

TEST(IniFile, NewFilesAndAppendedSections) {
  Ini ini;
  EXPECT_EQ(ini.get("S", "K"), std::nullopt);
  EXPECT_EQ(read_profile_int("S", "K", 7, ini.path.c_str()), 7);
  EXPECT_EQ(read_profile_float("S", "K", 3, ini.path.c_str()), 3.0f);
  EXPECT_EQ(ini.set("S", "K", "V"), 1);
  EXPECT_EQ(ini.text(), "[S]\nK=V\n");
  ini.put("");
  EXPECT_EQ(ini.set("S", "K", "V"), 1);
  EXPECT_EQ(ini.text(), "[S]\nK=V\n");

  ini.put("a=1");
  EXPECT_EQ(ini.set("S", "K", "V"), 1);
  EXPECT_EQ(ini.text(), "a=1\n[S]\nK=V\n");
  ini.put("a=1\n");
  EXPECT_EQ(ini.set("S", "K", "V"), 1);
  EXPECT_EQ(ini.text(), "a=1\n\n[S]\nK=V\n");

  // A header at the very end: the body starts right after its ']'.
  ini.put("[T]\nx=1\n[S]");
  EXPECT_EQ(ini.set("S", "K", "V"), 1);
  EXPECT_EQ(ini.text(), "[T]\nx=1\n[S]K=V\n");
  EXPECT_EQ(ini.get("S", "K"), "V");

  EXPECT_EQ(write_profile_string("S", "K", "V", ini.dir.file("no/such/dir.ini").c_str()), 0);
}

TEST(IniFile, LineSyntaxIsTakenLiterally) {
  Ini ini;
  ini.put("[S]\n\n  E=\nK = V\n;C=1\nN\n=x\nT=V ;note\nk=lower\n[+S]\nP=1\n[A\n[B]\nQ=2\n");
  EXPECT_EQ(ini.get("S", "E"), "");
  EXPECT_EQ(read_profile_int("S", "E", 7, ini.path.c_str()), 0);
  EXPECT_EQ(ini.get("S", "K"), std::nullopt);
  EXPECT_EQ(ini.get("S", "K "), " V");
  EXPECT_EQ(ini.get("S", "C"), std::nullopt);
  EXPECT_EQ(ini.get("S", ";C"), std::nullopt);
  EXPECT_EQ(ini.get("S", "N"), std::nullopt);
  EXPECT_EQ(ini.get("S", "T"), "V ;note");
  EXPECT_EQ(ini.get("S", "k"), "lower");
  EXPECT_EQ(ini.get("s", "k"), std::nullopt);
  EXPECT_EQ(ini.get("S", "P"), std::nullopt);
  EXPECT_EQ(ini.get("+S", "P"), "1");
  // A header name runs to the next ']' across line ends, so [B] hides inside "A\n[B".
  EXPECT_EQ(ini.get("B", "Q"), std::nullopt);
  EXPECT_EQ(ini.get("A\n[B", "Q"), "2");

  IniPositions at;
  const char* text = "[S]\n\n  K=V\r\n";
  EXPECT_EQ(parse_file("S", "K", text, &at), 1);
  EXPECT_EQ((std::vector<int>{at.section_start, at.section_end, at.key_start, at.key_end,
                              at.value_start, at.value_end}),
            (std::vector<int>{1, 7, 7, 7, 9, 10}));
  EXPECT_EQ(parse_file("S", "J", text, &at), 0);
  EXPECT_EQ((std::vector<int>{at.section_start, at.section_end, at.key_start, at.value_end}),
            (std::vector<int>{1, 7, -1, -1}));
}

TEST(IniFile, CrLfAndRepeatedSectionsAndKeys) {
  Ini ini;
  ini.put("[S]\r\nA=1\r\nB=2\r\n");
  EXPECT_EQ(ini.get("S", "B"), "2");
  EXPECT_EQ(ini.set("S", "B", "33"), 1);
  EXPECT_EQ(ini.set("S", "C", "3"), 1);
  EXPECT_EQ(ini.text(), "[S]\r\nC=3\nA=1\r\nB=33\r\n");

  ini.put("[S]\nK=1\nK=2\n[T]\nJ=0\n[S]\nK=3\nJ=4\n");
  EXPECT_EQ(ini.get("S", "K"), "1");
  EXPECT_EQ(ini.get("S", "J"), "4");
  EXPECT_EQ(ini.set("S", "K", "9"), 1);
  EXPECT_EQ(ini.set("S", "N", "5"), 1);
  EXPECT_EQ(ini.text(), "[S]\nK=9\nK=2\n[T]\nJ=0\n[S]\nN=5\nK=3\nJ=4\n");

  // Written as given, but not all of it can be found again.
  EXPECT_EQ(ini.set("S", "a=b", "1"), 1);
  EXPECT_EQ(ini.get("S", "a=b"), std::nullopt);
  EXPECT_EQ(ini.set("x]y", "K", "1"), 1);
  EXPECT_EQ(ini.get("x]y", "K"), std::nullopt);
  EXPECT_EQ(ini.set("T", "L", "one\ntwo"), 1);
  EXPECT_EQ(ini.get("T", "L"), "one");
}

TEST(IniFile, ValueBufferCutsAndDefaultsFollowStrncpy) {
  Ini ini;
  ini.put("[S]\nK=abcdef\nF=2.5\nI=-12x\n");
  char v[8];
  std::memset(v, '#', sizeof v);
  EXPECT_EQ(read_profile_string("S", "K", v, 4, "zz", ini.path.c_str()), 1);
  EXPECT_EQ(std::string(v, 8), std::string("abc\0####", 8));
  std::memset(v, '#', sizeof v);
  EXPECT_EQ(read_profile_string("S", "X", v, 4, "z", ini.path.c_str()), 0);
  EXPECT_EQ(std::string(v, 8), std::string("z\0\0\0####", 8));
  std::memset(v, '#', sizeof v);
  EXPECT_EQ(read_profile_string("S", "X", v, 2, "xyz", ini.path.c_str()), 0);
  EXPECT_EQ(std::string(v, 8), "xy######");
  EXPECT_EQ(read_profile_string("S", "X", v, 8, nullptr, ini.path.c_str()), 0);
  EXPECT_EQ(std::string(v, 8), "xy######");

  EXPECT_EQ(read_profile_float("S", "F", 0, ini.path.c_str()), 2.5f);
  EXPECT_EQ(read_profile_int("S", "I", 0, ini.path.c_str()), -12);
  EXPECT_EQ(read_profile_int("S", "K", 5, ini.path.c_str()), 0);

  char text[] = " a,,b  c,";
  char out[4][8] = {};
  char* tokens[4] = {out[0], out[1], out[2], out[3]};
  EXPECT_EQ(split_tokens(text, tokens, ", "), 3);
  EXPECT_STREQ(out[0], "a");
  EXPECT_STREQ(out[1], "b");
  EXPECT_STREQ(out[2], "c");
  EXPECT_EQ(split_tokens(nullptr, tokens, ","), 0);
}

TEST(IniFile, OversizeAndNulFilesAreNeverRewritten) {
  Ini ini;
  // 65,535 bytes: the largest text; a write may keep it at that size but not grow it.
  const std::string head = "[S]\nK=1\n;";
  std::string full = head + std::string(65535 - head.size() - 1, 'x') + "\n";
  ini.put(full);
  EXPECT_EQ(ini.get("S", "K"), "1");
  EXPECT_EQ(ini.set("S", "K", "22"), 0);
  EXPECT_EQ(ini.set("S", "N", "1"), 0);
  EXPECT_EQ(ini.set("T", "K", "1"), 0);
  EXPECT_EQ(ini.text(), full);
  EXPECT_EQ(ini.set("S", "K", "2"), 1);
  EXPECT_EQ(ini.text().size(), 65535u);
  ini.put(head + std::string(65535 - head.size() - 2, 'x') + "\n");
  EXPECT_EQ(ini.set("S", "K", "22"), 1);
  EXPECT_EQ(ini.text().size(), 65535u);

  // 65,536 bytes: read as a missing file, never rewritten.
  full += "y";
  ini.put(full);
  int length = -1;
  char* buffer = new char[kIniBufferSize];
  EXPECT_EQ(load_ini_file(ini.path.c_str(), buffer, &length), kIniTooLarge);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(read_profile_int("S", "K", 7, ini.path.c_str()), 7);
  EXPECT_EQ(ini.set("S", "K", "2"), 0);
  EXPECT_EQ(ini.text(), full);

  // A NUL ends the text for reads; writes refuse the file.
  const std::string nul("[S]\nA=1\n\0B=2\n", 13);
  ini.put(nul);
  EXPECT_EQ(load_ini_file(ini.path.c_str(), buffer, &length), kIniHoldsNul);
  EXPECT_EQ(length, 8);
  delete[] buffer;
  EXPECT_EQ(ini.get("S", "A"), "1");
  EXPECT_EQ(ini.get("S", "B"), std::nullopt);
  EXPECT_EQ(ini.set("S", "A", "5"), 0);
  EXPECT_EQ(ini.text(), nul);
}

TEST(IniFile, MissingWorkingBufferIsReportedAndChangesNothing) {
  Ini ini;
  ini.put("[S]\nK=1\n");
  char v[4] = "old";
  testing::internal::CaptureStdout();
  g_fail_nothrow_new = 1;
  EXPECT_EQ(read_profile_string("S", "K", v, 4, "def", ini.path.c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: No buffer to process ini files\nIngore this read_profile_string\n");
  EXPECT_STREQ(v, "old");
  for (int nth : {1, 2}) {
    testing::internal::CaptureStdout();
    g_fail_nothrow_new = nth;
    EXPECT_EQ(ini.set("S", "K", "2"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: No buffer to process ini files\nIngore this write_profile_string\n");
  }
  g_fail_nothrow_new = 0;
  EXPECT_EQ(ini.text(), "[S]\nK=1\n");
}

}  // namespace
