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
  EXPECT_EQ(image(76, 9), (Bytes{'1', '2', '3', '4', '5', '6', '7', '8', 0xFF}));

  ASSERT_EQ(set_eeWarmStart(258), 0);
  EXPECT_EQ(image(1758, 2), (Bytes{0x01, 0x02}));
  ASSERT_EQ(set_eeIpMode(1, 65536 + 2), 0);
  EXPECT_EQ(image(108 + 130 + 18, 2), (Bytes{0x00, 0x02}));
  EXPECT_EQ(get_eeIpMode(1), 2u);

  // The last index of the interface families and the 1-based indexes at both ends; the bytes
  // on either side of each field stay as they were.
  const Bytes mark(64, 0x5A);
  ASSERT_EQ(set_eeMacAddress(3, mark.data()) + set_eeDefaultIfBlock(3, mark.data()) +
                set_eeBlock1206(1, mark.data()) + set_eeWord1726(5, 0x5A5A),
            0);
  for (auto [offset, width] : {std::pair{498u, 6u}, {580u, 16u}, {1206u, 64u}, {1734u, 2u}}) {
    Bytes framed(width + 2, 0x5A);
    framed.front() = framed.back() = 0xFF;
    EXPECT_EQ(image(offset - 1, width + 2), framed) << offset;
  }
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
