#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "platform/root.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

class EepromFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(tmp_.file("tmp").c_str(), 0755);
    ASSERT_EQ(set_root(tmp_.path().c_str()), 0);
  }
  void TearDown() override { set_root(nullptr); }
  bool locked() const { return file_exists(tmp_.file("tmp/eeprom.lock")); }
  int transfers() const { return fake_.count(FakeI2c::Kind::write) + fake_.count(FakeI2c::Kind::read); }

  TempDir tmp_;
  FakeI2c fake_;
};

// Fails, in turn, the open, the slave selection and the k-th transfer of one field write and
// one field read: the write keeps the bytes before the failed one, the read reports -1 with
// zeros in its buffer (a WORD reads 0), and the lock is free after every attempt.
TEST_F(EepromFaults, EveryStepOfAFieldAccessMayFail) {
  struct Field {
    unsigned offset, width;
    std::function<int(const unsigned char*)> set;
    std::function<int(unsigned char*)> get;  // -1 or 0, the bytes into the buffer
  };
  const Field fields[] = {
      {76, 8, [](const unsigned char* s) { return set_eePassword(s); },
       [](unsigned char* d) { return get_eePassword(d); }},
      {122 + 130, 4, [](const unsigned char* s) { return set_eeGateway(1, s); },
       [](unsigned char* d) { return get_eeGateway(1, d); }},
      {1758, 2, [](const unsigned char* s) { return set_eeWarmStart(s[0] << 8 | s[1]); },
       [](unsigned char* d) {
         const unsigned v = get_eeWarmStart();
         d[0] = v >> 8, d[1] = v & 0xFF;
         return v == 0 ? -1 : 0;
       }}};
  const unsigned char value[8] = {'s', 'e', 'c', 'r', 'e', 't', '7', '9'};
  for (const Field& f : fields) {
    SCOPED_TRACE(f.offset);
    // Step -2: open, -1: select, 0..width-1: the byte transfers, width: none fails.
    for (int k = -2; k <= static_cast<int>(f.width); ++k) {
      SCOPED_TRACE(k);
      std::memset(&fake_.chip[f.offset], 0xFF, f.width);
      fake_.fail_open = k == -2, fake_.fail_select = k == -1;
      fake_.fail_transfer = k >= 0 && k < static_cast<int>(f.width) ? transfers() + k : -1;
      EXPECT_EQ(f.set(value), k == static_cast<int>(f.width) ? 0 : -1);
      for (int i = 0; i < static_cast<int>(f.width); ++i)
        EXPECT_EQ(fake_.chip[f.offset + i], i < k ? value[i] : 0xFF);
      EXPECT_FALSE(locked());
    }
    std::memcpy(&fake_.chip[f.offset], value, f.width);
    // Read: -2 open, -1 select, 0 the address transfer, 1 the read, 2 none fails.
    for (int k = -2; k <= 2; ++k) {
      SCOPED_TRACE(k);
      fake_.fail_open = k == -2, fake_.fail_select = k == -1;
      fake_.fail_transfer = k == 0 || k == 1 ? transfers() + k : -1;
      unsigned char out[8];
      std::memset(out, 0xA5, sizeof out);
      EXPECT_EQ(f.get(out), k == 2 ? 0 : -1);
      for (unsigned i = 0; i < f.width; ++i) EXPECT_EQ(out[i], k == 2 ? value[i] : 0);
      EXPECT_FALSE(locked());
    }
    // A read that delivers only n bytes: success, the rest zero.
    for (unsigned n = 1; n < f.width; ++n) {
      fake_.short_read = static_cast<int>(n);
      unsigned char out[8];
      std::memset(out, 0xA5, sizeof out);
      EXPECT_EQ(f.get(out), 0);
      for (unsigned i = 0; i < f.width; ++i) EXPECT_EQ(out[i], i < n ? value[i] : 0);
    }
    fake_.short_read = -1;
  }
}

// Another process holds the lock: the access waits for it, then goes through.
TEST_F(EepromFaults, AFieldAccessWaitsForTheLockOfAnotherProcess) {
  const std::string lock = tmp_.file("tmp/eeprom.lock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(lock.c_str(), O_CREAT | O_EXCL | O_RDONLY, 0600);
    (void)!write(ready[1], "x", 1);
    usleep(200000);
    ::close(fd);
    ::unlink(lock.c_str());
    _exit(fd >= 0 ? 0 : 1);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  const unsigned char password[8] = {'o', 'p', 'e', 'n', 0, 0, 0, 0};
  EXPECT_EQ(set_eePassword(password), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  unsigned char out[8];
  EXPECT_EQ(get_eePassword(out), 0);
  EXPECT_EQ(std::memcmp(out, password, 8), 0);
  EXPECT_FALSE(locked());
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  close(ready[0]), close(ready[1]);
}

}  // namespace
