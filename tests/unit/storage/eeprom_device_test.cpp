#include "storage/eeprom_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/root.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

class EepromDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(tmp_.file("tmp").c_str(), 0755);
    ASSERT_EQ(set_root(tmp_.path().c_str()), 0);
  }
  void TearDown() override { set_root(nullptr); }
  bool locked() const { return file_exists(tmp_.file("tmp/eeprom.lock")); }
  std::string device() const { return tmp_.file("dev/i2c-0"); }
  int transfers() const {
    return fake_.count(FakeI2c::Kind::write) + fake_.count(FakeI2c::Kind::read);
  }

  TempDir tmp_;
  FakeI2c fake_;
};

TEST_F(EepromDevice, BlocksMayNotIncludeTheLastByteButSingleBytesReachIt) {
  unsigned char buf[2] = {7, 7};
  EXPECT_EQ(i2c_read_block(8191, buf, 1), -1);
  EXPECT_EQ(i2c_write_block(8191, buf, 1), -1);
  EXPECT_EQ(i2c_read_block(0xFFFFFFFFu, buf, 2), -1);  // no wrap of offset + length
  EXPECT_EQ(i2c_write_byte(8192, 1), -1);
  EXPECT_EQ(i2c_read_byte(8192, buf), -1);
  EXPECT_EQ(fake_.trace(), "");

  EXPECT_EQ(i2c_write_block(8189, buf, 2), 0);
  EXPECT_EQ(i2c_write_byte(8191, 0x5A), 0);
  EXPECT_EQ(fake_.chip[8191], 0x5A);
  EXPECT_FALSE(locked());
}

TEST_F(EepromDevice, BlockWriteSendsOneAddressedByteAtATimeAndStopsAtAFailure) {
  const unsigned char src[4] = {'a', 'b', 'c', 'd'};
  ASSERT_EQ(i2c_write_block(0x0123, src, 2), 0);
  EXPECT_EQ(fake_.last_path, device());
  EXPECT_EQ(fake_.last_flags, O_RDWR);
  EXPECT_EQ(fake_.trace(), "open select write write close");
  EXPECT_EQ(fake_.transfers[1].bytes, Bytes{0x50});
  EXPECT_EQ(fake_.transfers[3].bytes, (Bytes{0x01, 0x24, 'b'}));
  EXPECT_EQ(fake_.paused_us, 20000u);

  fake_.fail_transfer = 2 + 2;  // the third byte of the next block
  testing::internal::CaptureStdout();
  EXPECT_EQ(i2c_write_block(100, src, 4), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "write " + device() + " [2] error=" + std::to_string(EIO) + "\n");
  EXPECT_EQ(fake_.transfers.back().kind, FakeI2c::Kind::close);

  fake_.transfers.clear();
  EXPECT_EQ(i2c_write_block(5, nullptr, 0), 0);
  EXPECT_EQ(fake_.trace(), "open select close");
}

TEST_F(EepromDevice, BlockReadSetsTheAddressThenReadsAndZeroFillsAShortRead) {
  for (int i = 0; i < 6; ++i) fake_.chip[0x0200 + i] = static_cast<unsigned char>(0x10 + i);
  unsigned char dst[6];
  fake_.short_read = 3;
  ASSERT_EQ(i2c_read_block(0x0200, dst, 6), 0);
  EXPECT_EQ(fake_.last_flags, O_RDWR | O_SYNC);
  EXPECT_EQ(fake_.trace(), "open select write read close");
  EXPECT_EQ(fake_.transfers[2].bytes, (Bytes{0x02, 0x00}));
  EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{0x10, 0x11, 0x12, 0, 0, 0}));

  unsigned char untouched[2] = {0xAA, 0xAA};
  fake_.fail_transfer = 2 + 1;  // the read after the next address set
  testing::internal::CaptureStdout();
  EXPECT_EQ(i2c_read_block(0, untouched, 2), -1);
  fake_.fail_open = true;
  EXPECT_EQ(i2c_read_block(0, untouched, 2), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "read error:" + std::to_string(EIO) + "\nopen " + device() + " error\n");
  EXPECT_EQ(Bytes(untouched, untouched + 2), (Bytes{0xAA, 0xAA}));
}

// Each routine's own open flags and its own words when the node cannot be opened or the
// chip not selected: the block routines name the node and report -1, the maintenance
// routines say less and end the process.
TEST_F(EepromDevice, EachRoutineHasItsOwnWordsForAMissingDevice) {
  const std::string node = device();
  const struct {
    int (*call)();
    int flags;
    std::string open_words, select_words;
    bool exits;
  } routines[] = {
      {[] {
         unsigned char b;
         return i2c_read_block(0, &b, 1);
       },
       O_RDWR | O_SYNC, "open " + node + " error\n", "ioctl " + node + " Error1\n", false},
      {[] { return i2c_write_block(0, reinterpret_cast<const unsigned char*>("x"), 1); }, O_RDWR,
       "open " + node + " error\n", "ioctl " + node + " Error3\n", false},
      {[] {
         unsigned char b;
         return i2c_read_byte(0, &b);
       },
       O_RDWR | O_SYNC, "open error", "Error2", true},
      {[] { return i2c_write_byte(0, 1); }, O_RDWR | O_SYNC, "open error", "Error4", true},
      {[] { return i2c_clear(); }, O_RDWR | O_SYNC, "open error", "Error5", true},
  };
  for (const auto& r : routines) {
    SCOPED_TRACE(r.select_words);
    fake_.fail_open = fake_.fail_select = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(r.call(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fake_.last_flags, r.flags);
    for (const bool open_fails : {true, false}) {
      fake_.fail_open = open_fails, fake_.fail_select = !open_fails;
      const std::string& words = open_fails ? r.open_words : r.select_words;
      if (!r.exits) {
        fake_.transfers.clear();
        testing::internal::CaptureStdout();
        EXPECT_EQ(r.call(), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), words);
        EXPECT_EQ(fake_.trace(), open_fails ? "open" : "open select close");
      } else {
        // stdout goes where the death test looks; exit() flushes it.
        EXPECT_EXIT((::dup2(2, 1), r.call()), testing::ExitedWithCode(255), words);
      }
      EXPECT_FALSE(locked());
    }
  }
}

// Fails, in turn, the open, the slave selection and each transfer of a field write and a
// field read: the write keeps the bytes before the failed one, the read reports -1 with zeros
// in its buffer (a word reads 0), and the lock is free after every attempt.
TEST_F(EepromDevice, EveryStepOfAFieldAccessMayFail) {
  const unsigned offset = 122 + 130;  // eeGateway(1)
  const unsigned char value[4] = {10, 0, 1, 254};
  testing::internal::CaptureStdout();
  // Write steps: -2 open, -1 select, 0..3 the byte transfers, 4 none fails.
  for (int k = -2; k <= 4; ++k) {
    SCOPED_TRACE(k);
    std::memset(&fake_.chip[offset], 0xFF, 4);
    fake_.fail_open = k == -2, fake_.fail_select = k == -1;
    fake_.fail_transfer = k >= 0 && k < 4 ? transfers() + k : -1;
    EXPECT_EQ(set_eeGateway(1, value), k == 4 ? 0 : -1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fake_.chip[offset + i], i < k ? value[i] : 0xFF);
    EXPECT_FALSE(locked());
  }
  // Read steps: -2 open, -1 select, 0 the address transfer, 1 the read, 2 none fails.
  fake_.chip[1758] = 0x01, fake_.chip[1759] = 0x02;
  for (int k = -2; k <= 2; ++k) {
    SCOPED_TRACE(k);
    fake_.fail_open = k == -2, fake_.fail_select = k == -1;
    fake_.fail_transfer = k == 0 || k == 1 ? transfers() + k : -1;
    unsigned char out[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    EXPECT_EQ(get_eeGateway(1, out), k == 2 ? 0 : -1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], k == 2 ? value[i] : 0);
    fake_.fail_transfer = k == 0 || k == 1 ? transfers() + k : -1;
    EXPECT_EQ(get_eeWarmStart(), k == 2 ? 0x0102u : 0u);
    EXPECT_FALSE(locked());
  }
  testing::internal::GetCapturedStdout();
}

TEST_F(EepromDevice, WaitsWhileAnotherProcessHoldsTheLock) {
  // The holder says "releasing" just before it removes the lock; a write that did not wait
  // would be done long before that word arrives. No clock is read, so a loaded machine can
  // only make the test pass more easily, never fail it.
  int ready[2], releasing[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(releasing), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string lock = tmp_.file("tmp/eeprom.lock");
    const int fd = ::open(lock.c_str(), O_CREAT | O_EXCL | O_RDONLY, 0600);
    (void)!::write(ready[1], "x", 1);
    ::usleep(100000);
    (void)!::write(releasing[1], "x", 1);
    ::unlink(lock.c_str());
    ::_exit(fd < 0 ? 1 : 0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  const unsigned char password[8] = {'o', 'p', 'e', 'n', 0, 0, 0, 0};
  EXPECT_EQ(set_eePassword(password), 0);
  pollfd word{releasing[0], POLLIN, 0};
  EXPECT_EQ(::poll(&word, 1, 0), 1) << "the write did not wait for the lock";
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(locked());
  for (int fd : {ready[0], ready[1], releasing[0], releasing[1]}) ::close(fd);
}

TEST_F(EepromDevice, ClearAndTheEndsOfTheMaintenanceRoutines) {
  fake_.chip.fill(0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(i2c_clear(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "i2c clear\n" + std::string(8192, '.') + "\nend\n");
  for (unsigned char b : fake_.chip) ASSERT_EQ(b, 0xFF);

  // A missing device ends the process; the lock must not outlive it, or it would hold up
  // the next call for ever.
  fake_.fail_select = true;
  EXPECT_EXIT(i2c_write_byte(0, 1), testing::ExitedWithCode(255), "");
  ASSERT_FALSE(locked());
  fake_.fail_select = false;
  fake_.fail_open = true;
  EXPECT_EXIT(i2c_clear(), testing::ExitedWithCode(255), "");
  EXPECT_FALSE(locked());
}

}  // namespace
