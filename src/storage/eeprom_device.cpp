#include "storage/eeprom_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "common/require.h"
#include "platform/i2c_port.h"
#include "platform/root.h"

namespace {

const char* const kDevicePath = "/dev/i2c-0";
const char* const kLockPath = "/tmp/eeprom.lock";
constexpr unsigned kLockPollUs = 500;
constexpr unsigned kBlockBytePauseUs = 10000;  // the chip's write cycle, with margin
constexpr unsigned kBytePauseUs = 10;

int g_lock_fd = -1;

// A block ends before the last byte. Written without the wrap of an unsigned sum, so a huge
// offset or length cannot come round to a small end.
bool block_in_range(unsigned offset, unsigned length) {
  return offset < kEepromSize && length < kEepromSize - offset;
}

void put_address(unsigned offset, unsigned char* dst) {
  put_be16(static_cast<uint16_t>(offset), dst);
}

// The maintenance routines give up the whole process when the device is not there.
[[noreturn]] void unlock_and_exit() {
  eeprom_unlock();
  std::exit(-1);
}

}  // namespace

int eeprom_lock() {
  const RootedPath lock = rooted(kLockPath);
  for (;;) {
    // Nothing reads the file; only its existence matters. Other holders are not examined.
    const int fd = ::open(lock.c_str(), O_CREAT | O_EXCL | O_RDONLY, 0600);
    if (fd >= 0) {
      g_lock_fd = fd;
      return 0;
    }
    ::usleep(kLockPollUs);
  }
}

int eeprom_unlock() {
  ::close(g_lock_fd);
  g_lock_fd = -1;
  ::unlink(rooted(kLockPath).c_str());
  return 0;
}

int i2c_read_block(unsigned offset, unsigned char* buffer, unsigned length) {
  STATION_REQUIRE(length <= kEepromBlockReadMax);
  int result = -1;
  eeprom_lock();
  if (block_in_range(offset, length)) {
    const I2cPort& port = i2c_port();
    const RootedPath device = rooted(kDevicePath);
    const int fd = port.open(device.c_str(), O_RDWR | O_SYNC);
    if (fd < 0) {
      printf("open %s error\n", device.c_str());
    } else {
      unsigned char address[2];
      put_address(offset, address);
      unsigned char staging[kEepromBlockReadMax];
      if (port.select_slave(fd, kEepromBusAddress) < 0) {
        printf("ioctl %s Error1\n", device.c_str());
      } else if (port.write(fd, address, 2) < 0) {
        printf("i2c_read_block(), write error:%d\n", errno);
      } else {
        std::memset(staging, 0, length);
        if (port.read(fd, staging, length) < 0) {
          printf("read error:%d\n", errno);
        } else {
          if (length > 0) std::memcpy(buffer, staging, length);
          result = 0;
        }
      }
      port.close(fd);
    }
  }
  eeprom_unlock();
  return result;
}

int i2c_write_block(unsigned offset, const unsigned char* buffer, unsigned length) {
  int result = -1;
  eeprom_lock();
  if (block_in_range(offset, length)) {
    const I2cPort& port = i2c_port();
    const RootedPath device = rooted(kDevicePath);
    const int fd = port.open(device.c_str(), O_RDWR);
    if (fd < 0) {
      printf("open %s error\n", device.c_str());
    } else {
      if (port.select_slave(fd, kEepromBusAddress) < 0) {
        printf("ioctl %s Error3\n", device.c_str());
      } else {
        unsigned i = 0;
        for (; i < length; ++i) {
          // No page writes: every byte is its own transfer.
          unsigned char transfer[3];
          put_address(offset + i, transfer);
          transfer[2] = buffer[i];
          if (port.write(fd, transfer, 3) < 0) {
            printf("write %s [%d] error=%d\n", device.c_str(), static_cast<int>(i), errno);
            break;
          }
          i2c_pause(kBlockBytePauseUs);
        }
        if (i == length) result = 0;
      }
      port.close(fd);
    }
  }
  eeprom_unlock();
  return result;
}

int i2c_read_byte(unsigned offset, unsigned char* value) {
  eeprom_lock();
  if (offset >= kEepromSize) {
    eeprom_unlock();
    return -1;
  }
  const I2cPort& port = i2c_port();
  const int fd = port.open(rooted(kDevicePath).c_str(), O_RDWR | O_SYNC);
  if (fd < 0) {
    printf("open error\n");
    unlock_and_exit();
  }
  if (port.select_slave(fd, kEepromBusAddress) < 0) {
    printf("Error2\n");
    unlock_and_exit();
  }
  unsigned char address[2];
  put_address(offset, address);
  if (port.write(fd, address, 2) < 0) printf("i2c_read_byte(), write error\n");
  unsigned char byte = 0;
  if (port.read(fd, &byte, 1) < 0) {
    printf("read error");
    byte = 0;
  }
  *value = byte;
  port.close(fd);
  eeprom_unlock();
  return 0;
}

int i2c_write_byte(unsigned offset, unsigned char value) {
  eeprom_lock();
  if (offset >= kEepromSize) {
    eeprom_unlock();
    return -1;
  }
  const I2cPort& port = i2c_port();
  const int fd = port.open(rooted(kDevicePath).c_str(), O_RDWR | O_SYNC);
  if (fd < 0) {
    printf("open error\n");
    unlock_and_exit();
  }
  if (port.select_slave(fd, kEepromBusAddress) < 0) {
    printf("Error4\n");
    unlock_and_exit();
  }
  unsigned char transfer[3];
  put_address(offset, transfer);
  transfer[2] = value;
  if (port.write(fd, transfer, 3) < 0) {
    printf("i2c_write_byte(), write error\n");
    unlock_and_exit();
  }
  i2c_pause(kBytePauseUs);
  port.close(fd);
  eeprom_unlock();
  return 0;
}

int i2c_clear() {
  eeprom_lock();
  printf("i2c clear\n");
  const I2cPort& port = i2c_port();
  const int fd = port.open(rooted(kDevicePath).c_str(), O_RDWR | O_SYNC);
  if (fd < 0) {
    printf("open error\n");
    unlock_and_exit();
  }
  if (port.select_slave(fd, kEepromBusAddress) < 0) {
    printf("Error5\n");
    unlock_and_exit();
  }
  for (unsigned offset = 0; offset < kEepromSize; ++offset) {
    printf(".");
    unsigned char transfer[3];
    put_address(offset, transfer);
    transfer[2] = 0xFF;
    if (port.write(fd, transfer, 3) < 0) {
      printf("i2c_clear(), write error\n");
      unlock_and_exit();
    }
    i2c_pause(kBytePauseUs);
  }
  port.close(fd);
  printf("\n");
  printf("end\n");
  eeprom_unlock();
  return 0;
}
