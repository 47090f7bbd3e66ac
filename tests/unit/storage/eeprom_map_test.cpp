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

// Every test runs under a device root, so the lock file is the test's own. The EEPROM is a
// real image file reached through the port's emulation of the chip, or the fake port.
class EepromMap : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(tmp_.file("tmp").c_str(), 0755);
    ::mkdir(tmp_.file("dev").c_str(), 0755);
    write_file(tmp_.file("dev/i2c-0"), std::string(8192, '\xFF'));
    ASSERT_EQ(set_root(tmp_.path().c_str()), 0);
    set_i2c_pause([](unsigned) {});
  }
  void TearDown() override {
    set_i2c_pause(nullptr);
    set_root(nullptr);
  }
  Bytes image(unsigned offset, unsigned n) const {
    const std::string text = read_file(tmp_.file("dev/i2c-0"));
    return Bytes(text.begin() + offset, text.begin() + offset + n);
  }

  TempDir tmp_;
};

TEST_F(EepromMap, FieldsLandAtTheirOffsetsInTheirEncodings) {
  const unsigned char address[4] = {10, 0, 0, 254};
  ASSERT_EQ(set_eeIpAddress(2, address), 0);
  EXPECT_EQ(image(374, 4), (Bytes{0x0A, 0x00, 0x00, 0xFE}));
  ASSERT_EQ(set_eeUserName("admin\0\0\0"), 0);
  EXPECT_EQ(image(68, 8), (Bytes{'a', 'd', 'm', 'i', 'n', 0, 0, 0}));
  ASSERT_EQ(set_eePassword("12345678"), 0);
  char password[9] = {};
  ASSERT_EQ(get_eePassword(password), 0);
  EXPECT_STREQ(password, "12345678");
  EXPECT_EQ(image(84, 1), Bytes{0xFF});  // nothing beyond the field

  ASSERT_EQ(set_eeWarmStart(258), 0);
  EXPECT_EQ(image(1758, 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(get_eeWarmStart(), 258u);
  ASSERT_EQ(set_eeIpMode(1, 65536 + 2), 0);
  EXPECT_EQ(image(108 + 130 + 18, 2), (Bytes{0x00, 0x02}));
  EXPECT_EQ(get_eeIpMode(1), 2u);
}

// One sample per shape of the map: plain fields, the interface blocks with their factory
// copies, the name servers and the 1-based indexes. Each is one open, one 3-byte write per
// byte of the field from its offset on, and one close.
TEST_F(EepromMap, EachFieldIsOneTransferOfItsWidthAtItsOffset) {
  FakeI2c fake;
  const unsigned char src[64] = {};
  const struct {
    int written;
    unsigned offset, width;
  } cases[] = {
      {set_eeBytes6(src), 6, 2},           {set_eeModelName(src), 10, 16},
      {set_eeDefaultPassword(src), 96, 8}, {set_eeMacAddress(3, src), 498, 6},
      {set_eeGateway(0, src), 122, 4},     {set_eeIfBlock(1, src), 258, 16},
      {set_eeDefaultIpMode(3, 0), 578, 2}, {set_eeDefaultIfBlock(3, src), 580, 16},
      {set_eeNameServer(3, src), 640, 4},  {set_eeDefaultNameServer(1, src), 648, 4},
      {set_eeBlock1206(5, src), 1462, 64}, {set_eeWord1726(5, 0), 1734, 2},
      {set_eeWord1736(3, 0), 1740, 2},     {set_eeBlock1856(src), 1856, 32},
  };
  size_t at = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(c.written, 0);
    ASSERT_LE(at + 3 + c.width, fake.transfers.size());
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
  get_eeBlock1206(0, buf);
  get_eeBlock1206(6, buf);
  EXPECT_EQ(get_eeWord1726(0), 0u);
  EXPECT_EQ(set_eeWord1726(6, 1), -1);
  EXPECT_EQ(get_eeWord1736(4), 0u);
  EXPECT_EQ(set_eeWord1736(0, 1), -1);
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

TEST_F(EepromMap, TheMaximumConnectionCountLivesInStationIni) {
  ::mkdir(tmp_.file("mnt").c_str(), 0755);
  ::mkdir(tmp_.file("mnt/jffs2").c_str(), 0755);
  FakeI2c fake;
  set_eeMaxConnection(2, 5);
  EXPECT_EQ(read_file(tmp_.file("mnt/jffs2/station.ini")), "[COM2]\ncom_max_connection=5\n");
  EXPECT_EQ(get_eeMaxConnection(2), 5);
  EXPECT_EQ(get_eeMaxConnection(1), 0);
  EXPECT_EQ(fake.trace(), "");
}
