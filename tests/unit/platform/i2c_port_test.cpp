#include "platform/i2c_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

std::string image_with_counting_bytes() {
  std::string image(8192, '\0');
  for (int i = 0; i < 8192; ++i) image[i] = static_cast<char>(i & 0xFF);
  return image;
}

}  // namespace

TEST(I2cPortImage, AnImageFileBehavesLikeTheChip) {
  TempDir tmp;
  const std::string path = tmp.file("i2c-0");
  write_file(path, image_with_counting_bytes());
  const I2cPort& port = i2c_port();
  const int fd = port.open(path.c_str(), O_RDWR | O_SYNC);
  ASSERT_GE(fd, 0);
  const unsigned char address[2] = {0x1F, 0xFE};  // 8190
  EXPECT_EQ(port.write(fd, address, 2), -1);      // no slave selected yet
  EXPECT_EQ(port.select_slave(fd, 0x51), -1);
  ASSERT_EQ(port.select_slave(fd, 0x50), 0);

  unsigned char got[4];
  ASSERT_EQ(port.write(fd, address, 2), 2);
  ASSERT_EQ(port.read(fd, got, 4), 4);  // the counter wraps at the end
  EXPECT_EQ(got[0], 0xFE);
  EXPECT_EQ(got[1], 0xFF);
  EXPECT_EQ(got[2], 0x00);
  EXPECT_EQ(got[3], 0x01);

  const unsigned char store[3] = {0x01, 0x10, 0xAB};  // 0x0110 := 0xAB
  ASSERT_EQ(port.write(fd, store, 3), 3);
  ASSERT_EQ(port.read(fd, got, 1), 1);  // the counter moved past the stored byte
  EXPECT_EQ(got[0], 0x11);
  EXPECT_EQ(port.close(fd), 0);

  const std::string image = read_file(path);
  ASSERT_EQ(image.size(), 8192u);
  EXPECT_EQ(static_cast<unsigned char>(image[0x0110]), 0xAB);
  EXPECT_EQ(static_cast<unsigned char>(image[0x010F]), 0x0F);
}

TEST(I2cPortImage, WithARootACharacterDeviceIsRefused) {
  TempDir tmp;
  ASSERT_EQ(set_root(tmp.path().c_str()), 0);
  errno = 0;
  EXPECT_EQ(i2c_port().open("/dev/null", O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);
  set_root(nullptr);
}
