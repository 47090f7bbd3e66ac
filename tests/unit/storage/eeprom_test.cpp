// The EEPROM routines and the field map against tests/data/eeprom.txt, one call per row.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/root.h"
#include "storage/eeprom_device.h"
#include "storage/eeprom_map.h"
#include "support/case_table.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

// Every field's accessors by name, in one shape: (set, index, bytes, word) -> result.
using Access = int (*)(bool set, int index, unsigned char* bytes, unsigned word);
#define ACCESS_BYTES(F) \
  [](bool set, int, unsigned char* b, unsigned) { return set ? set_##F(b) : get_##F(b); }
#define ACCESS_BYTES_AT(F) \
  [](bool set, int i, unsigned char* b, unsigned) { return set ? set_##F(i, b) : get_##F(i, b); }
#define ACCESS_WORD(F) \
  [](bool set, int, unsigned char*, unsigned w) { return set ? set_##F(w) : int(get_##F()); }
#define ACCESS_WORD_AT(F) \
  [](bool set, int i, unsigned char*, unsigned w) { return set ? set_##F(i, w) : int(get_##F(i)); }
#define ACCESS_BLOCK_AT(F)                           \
  [](bool set, int i, unsigned char* b, unsigned) {  \
    return set ? set_##F(i, b) : (get_##F(i, b), 0); \
  }
#define ACCESS(F, offset, width, stride, first, count, form) {#F, Access(ACCESS_##form(F))},
const std::map<std::string, Access> kFields = {
    EEPROM_FIELDS(ACCESS){"eeMaxConnection", [](bool set, int i, unsigned char*, unsigned w) {
                            return set ? set_eeMaxConnection(i, int(w)) : get_eeMaxConnection(i);
                          }}};

int call(const CaseRow& row, unsigned char* buffer) {
  const std::string name = *row[0], a = row.text(1), b = row.text(2);
  const auto number = [](const std::string& text) { return std::stoul(text, nullptr, 0); };
  const auto* bytes = reinterpret_cast<const unsigned char*>(b.data());
  if (name == "rblock") return i2c_read_block(number(a), buffer, number(b));
  if (name == "wblock") return i2c_write_block(number(a), bytes, b.size());
  if (name == "rbyte") return i2c_read_byte(number(a), buffer);
  if (name == "wbyte") return i2c_write_byte(number(a), number(b));
  if (name == "clear") return i2c_clear();
  const bool set = name.starts_with("set:");
  if (set) std::copy(b.begin(), b.end(), buffer);
  const bool word = !b.empty() && b.find_first_not_of("0123456789") == std::string::npos;
  return kFields.at(name.substr(4))(set, a.empty() ? 0 : std::stoi(a), buffer,
                                    word ? number(b) : 0);
}

TEST(Eeprom, EachTransferFaultGivesItsResultWordsAndBytes) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("mnt/jffs2"));
  mkdir(dir.file("tmp").c_str(), 0755);
  ASSERT_EQ(set_root(dir.path().c_str()), 0);
  const std::string lock = dir.file("tmp/eeprom.lock");
  for (const CaseRow& row : read_case_table("eeprom.txt")) {
    SCOPED_TRACE(row.where);
    FakeI2c fake;
    for (unsigned i = 0; i < fake.chip.size(); ++i) fake.chip[i] = static_cast<unsigned char>(i);
    const std::string fault = row.text(3),
                      printed = replace_all(*row[5], "NODE", dir.file("dev/i2c-0"));
    fake.fail_open = fault == "open";
    fake.fail_select = fault == "select";
    if (fault.starts_with("xfer:")) fake.fail_transfer = std::stoi(fault.substr(5));
    if (fault.starts_with("short:")) fake.short_read = std::stoi(fault.substr(6));
    unsigned char buffer[8192];
    std::memset(buffer, 0xAA, sizeof buffer);
    if (row[4] == "exit") {
      const ChildRun child = in_child([&] { return std::to_string(call(row, buffer)); });
      EXPECT_EQ(std::to_string(child.status) + " " + child.out, "255 " + printed);
      EXPECT_FALSE(file_exists(lock));
      continue;
    }
    // A held lock: made here, removed by a thread after 100 ms; the call must wait for it.
    const auto start = std::chrono::steady_clock::now();
    std::thread holder;
    if (fault == "held") {
      close(open(lock.c_str(), O_CREAT | O_EXCL | O_RDONLY, 0600));
      holder = std::thread([&] { usleep(100000), unlink(lock.c_str()); });
    }
    testing::internal::CaptureStdout();
    const std::string result = std::to_string(call(row, buffer));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), printed);
    if (holder.joinable()) {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
      holder.join();
    }
    EXPECT_EQ(row[4].value_or(result), result);
    const std::string sent = row[6].value_or(fake.transfers);
    EXPECT_EQ(
        sent.ends_with("...") ? fake.transfers.substr(0, sent.size() - 3) + "..." : fake.transfers,
        sent);
    const unsigned char* at = row[7] ? fake.chip.data() + std::stoul(*row[7]) : buffer;
    EXPECT_EQ(std::string(at, at + row[8]->size()), *row[8]);
    EXPECT_FALSE(file_exists(lock));
  }
  set_root(nullptr);
}

}  // namespace
