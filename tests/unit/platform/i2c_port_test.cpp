// The chip over an image file: what the EEPROM routines see on a PC.
#include "platform/i2c_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

using namespace std::string_literals;

TEST(I2cPortImage, AnImageFileBehavesLikeTheChipAndACharacterDeviceIsRefusedUnderARoot) {
  TempDir tmp;
  std::string counting(8192, '\0');
  for (int i = 0; i < 8192; ++i) counting[i] = static_cast<char>(i);
  write_file(tmp.file("i2c-0"), counting);
  const I2cPort& port = i2c_port();
  const int fd = port.open(tmp.file("i2c-0").c_str(), O_RDWR | O_SYNC);
  const unsigned char address[2] = {0x1F, 0xFE}, store[3] = {0x01, 0x10, 0xAB};
  unsigned char got[4];
  EXPECT_EQ(port.write(fd, address, 2), -1);  // no slave selected yet
  EXPECT_EQ(port.select_slave(fd, 0x51), -1);
  ASSERT_EQ(port.select_slave(fd, 0x50), 0);
  ASSERT_EQ(port.write(fd, address, 2), 2);
  ASSERT_EQ(port.read(fd, got, 4), 4);  // the counter wraps at the end
  EXPECT_EQ(std::string(got, got + 4), "\xFE\xFF\x00\x01"s);
  ASSERT_EQ(port.write(fd, store, 3), 3);  // 0x0110 := 0xAB, and the counter moves past it
  ASSERT_EQ(port.read(fd, got, 1), 1);
  EXPECT_EQ(got[0], 0x11);
  EXPECT_EQ(port.close(fd), 0);
  EXPECT_EQ(read_file(tmp.file("i2c-0")).substr(0x010F, 3), "\x0F\xAB\x11");

  // On a PC, bus address 0x50 is often a memory module's own EEPROM.
  ASSERT_EQ(set_root(tmp.path().c_str()), 0);
  errno = 0;
  EXPECT_EQ(port.open("/dev/null", O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);
  set_root(nullptr);
}
