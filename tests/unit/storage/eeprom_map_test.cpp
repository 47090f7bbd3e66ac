#include "storage/eeprom_map.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/i2c_port.h"
#include "platform/root.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

using Bytes = std::vector<unsigned char>;

namespace {
void no_pause(unsigned) {}
}  // namespace

// Every test runs under a device root, so the lock file is the test's own.
class EepromMap : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(tmp_.file("tmp").c_str(), 0755);
    ::mkdir(tmp_.file("dev").c_str(), 0755);
    ASSERT_EQ(set_root(tmp_.path().c_str()), 0);
  }
  void TearDown() override { set_root(nullptr); }

  TempDir tmp_;
};

// The whole road on a real image file: map, block routines, lock file and the port's
// emulation of the chip.
class EepromMapOnImage : public EepromMap {
 protected:
  void SetUp() override {
    EepromMap::SetUp();
    write_file(image(), std::string(8192, '\xFF'));
    set_i2c_pause(no_pause);
  }
  void TearDown() override {
    set_i2c_pause(nullptr);
    EepromMap::TearDown();
  }
  std::string image() const { return tmp_.file("dev/i2c-0"); }
  Bytes at(unsigned offset, unsigned n) const {
    const std::string text = read_file(image());
    return Bytes(text.begin() + offset, text.begin() + offset + n);
  }
};

TEST_F(EepromMapOnImage, FieldsLandAtTheirOffsetsInTheirEncodings) {
  const unsigned char address[4] = {10, 0, 0, 254};
  ASSERT_EQ(set_eeIpAddress(2, address), 0);
  EXPECT_EQ(at(374, 4), (Bytes{0x0A, 0x00, 0x00, 0xFE}));

  ASSERT_EQ(set_eeUserName("admin\0\0\0"), 0);
  EXPECT_EQ(at(68, 8), (Bytes{'a', 'd', 'm', 'i', 'n', 0, 0, 0}));
  ASSERT_EQ(set_eePassword("12345678"), 0);
  char password[9] = {};
  ASSERT_EQ(get_eePassword(password), 0);
  EXPECT_STREQ(password, "12345678");
  EXPECT_EQ(at(84, 1), Bytes{0xFF});  // nothing beyond the field

  ASSERT_EQ(set_eeWarmStart(258), 0);
  EXPECT_EQ(at(1758, 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(get_eeWarmStart(), 258u);
  ASSERT_EQ(set_eeIpMode(1, 65536 + 2), 0);
  EXPECT_EQ(at(108 + 130 + 18, 2), (Bytes{0x00, 0x02}));
  EXPECT_EQ(get_eeIpMode(1), 2u);
}

// Offsets from the map's tables, one sample per shape of the table: plain fields, the four
// interface blocks with their factory copies, the name servers and the 1-based indexes.
TEST_F(EepromMap, EachFieldIsOneTransferOfItsWidthAtItsOffset) {
  FakeI2c fake;
  const unsigned char src[64] = {};
  struct Case {
    int written;
    unsigned offset, width;
  } cases[] = {
      {set_eeBytes6(src), 6, 2},                {set_eeModelName(src), 10, 16},
      {set_eeBlock34(src), 34, 16},             {set_eeDefaultPassword(src), 96, 8},
      {set_eeMacAddress(3, src), 498, 6},       {set_eeGateway(0, src), 122, 4},
      {set_eeIfBlock(1, src), 258, 16},         {set_eeDefaultIpAddress(0, src), 176, 4},
      {set_eeDefaultIpMode(3, 0), 578, 2},      {set_eeDefaultIfBlock(3, src), 580, 16},
      {set_eeNameServer(3, src), 640, 4},       {set_eeDefaultNameServer(1, src), 648, 4},
      {set_eeBlock1206(5, src), 1462, 64},      {set_eeWord1526(0), 1526, 2},
      {set_eeBlock1662(src), 1662, 64},         {set_eeWord1726(5, 0), 1734, 2},
      {set_eeWord1736(3, 0), 1740, 2},          {set_eeBytes1754(src), 1754, 4},
      {set_eeBlock1856(src), 1856, 32},         {set_eeWord1888(0), 1888, 2},
  };
  size_t at = 0;  // each: open, select, one 3-byte write per byte, close
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(c.written, 0);
    ASSERT_LE(at + 3 + c.width, fake.transfers.size());
    EXPECT_EQ(fake.transfers[at].kind, FakeI2c::Kind::open);
    for (unsigned i = 0; i < c.width; ++i) {
      const Bytes& w = fake.transfers[at + 2 + i].bytes;
      ASSERT_EQ(w.size(), 3u);
      EXPECT_EQ((w[0] << 8) | w[1], static_cast<int>(c.offset + i));
    }
    EXPECT_EQ(fake.transfers[at + 2 + c.width].kind, FakeI2c::Kind::close);
    at += 3 + c.width;
  }
  EXPECT_EQ(at, fake.transfers.size());
}

TEST_F(EepromMap, IndexesOutsideAFieldsRangeAreRefusedWithoutDeviceAccess) {
  FakeI2c fake;
  unsigned char buf[64];
  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_EQ(get_eeIpAddress(4, buf), -1);
  EXPECT_EQ(set_eeMacAddress(-1, buf), -1);
  EXPECT_EQ(get_eeNameServer(4, buf), -1);
  EXPECT_EQ(set_eeDefaultNameServer(4, buf), -1);
  get_eeBlock1206(0, buf);
  get_eeBlock1206(6, buf);
  EXPECT_EQ(set_eeBlock1206(6, buf), -1);
  EXPECT_EQ(get_eeWord1726(0), 0u);
  EXPECT_EQ(set_eeWord1726(6, 1), -1);
  EXPECT_EQ(get_eeWord1736(4), 0u);
  EXPECT_EQ(set_eeWord1736(0, 1), -1);
  EXPECT_EQ(get_eeIpMode(4), 0u);
  EXPECT_EQ(fake.trace(), "");
  for (unsigned char b : buf) ASSERT_EQ(b, 0xAA);

  // A failed read hands back zero bytes and a zero word.
  fake.fail_open = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(get_eeUserName(buf), -1);
  EXPECT_EQ(get_eeWarmStart(), 0u);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Bytes(buf, buf + 9), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
}
