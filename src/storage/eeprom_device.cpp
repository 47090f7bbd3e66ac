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

// What sets one routine's way to the chip apart. The block routines, which the daemon uses,
// name the node in their messages and report -1; the maintenance routines print bare words
// and end the process. Each routine keeps its own words: scripts and people read them.
struct Reach {
  int open_flags;
  bool names_node;           // "open NODE error", "ioctl NODE ErrorN"; else "open error", "ErrorN"
  const char* select_error;  // "Error1".."Error5"
  bool ends_process;         // exit(-1), the lock released first
};

constexpr Reach kReadBlock{O_RDWR | O_SYNC, true, "Error1", false};
constexpr Reach kWriteBlock{O_RDWR, true, "Error3", false};
constexpr Reach kReadByte{O_RDWR | O_SYNC, false, "Error2", true};
constexpr Reach kWriteByte{O_RDWR | O_SYNC, false, "Error4", true};
constexpr Reach kClear{O_RDWR | O_SYNC, false, "Error5", true};

// One routine's hold on the chip: the lock from construction on, then the node opened and
// the slave selected by reach(). Every way out of the routine gives back what is held: the
// descriptor is closed, then the lock released. (Ending the process skips this, which is why
// unlock_and_exit releases the lock itself.)
class ChipHold {
 public:
  ChipHold() { eeprom_lock(); }
  ~ChipHold() {
    if (fd_ >= 0) port_.close(fd_);
    eeprom_unlock();
  }
  ChipHold(const ChipHold&) = delete;
  ChipHold& operator=(const ChipHold&) = delete;

  // Opens the node with the routine's flags and selects the chip. On a failure prints the
  // routine's words and returns false, or does not return at all.
  bool reach(const Reach& how) {
    fd_ = port_.open(node_.c_str(), how.open_flags);
    if (fd_ < 0) {
      if (how.names_node) {
        printf("open %s error\n", node_.c_str());
      } else {
        printf("open error\n");
      }
    } else if (port_.select_slave(fd_, kEepromBusAddress) < 0) {
      if (how.names_node) {
        printf("ioctl %s %s\n", node_.c_str(), how.select_error);
      } else {
        printf("%s\n", how.select_error);
      }
    } else {
      return true;
    }
    if (how.ends_process) unlock_and_exit();
    return false;
  }

  ssize_t write(const unsigned char* bytes, size_t count) { return port_.write(fd_, bytes, count); }
  ssize_t read(unsigned char* bytes, size_t count) { return port_.read(fd_, bytes, count); }
  const char* node() const { return node_.c_str(); }

 private:
  const I2cPort& port_ = i2c_port();
  const RootedPath node_ = rooted(kDevicePath);
  int fd_ = -1;
};

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
  ChipHold chip;
  if (!block_in_range(offset, length) || !chip.reach(kReadBlock)) return -1;
  unsigned char address[2];
  put_address(offset, address);
  if (chip.write(address, 2) < 0) {
    printf("i2c_read_block(), write error:%d\n", errno);
    return -1;
  }
  unsigned char staging[kEepromBlockReadMax];
  std::memset(staging, 0, length);
  if (chip.read(staging, length) < 0) {
    printf("read error:%d\n", errno);
    return -1;
  }
  if (length > 0) std::memcpy(buffer, staging, length);
  return 0;
}

int i2c_write_block(unsigned offset, const unsigned char* buffer, unsigned length) {
  ChipHold chip;
  if (!block_in_range(offset, length) || !chip.reach(kWriteBlock)) return -1;
  for (unsigned i = 0; i < length; ++i) {
    // No page writes: every byte is its own transfer.
    unsigned char transfer[3];
    put_address(offset + i, transfer);
    transfer[2] = buffer[i];
    if (chip.write(transfer, 3) < 0) {
      printf("write %s [%d] error=%d\n", chip.node(), static_cast<int>(i), errno);
      return -1;
    }
    i2c_pause(kBlockBytePauseUs);
  }
  return 0;
}

int i2c_read_byte(unsigned offset, unsigned char* value) {
  ChipHold chip;
  if (offset >= kEepromSize) return -1;
  chip.reach(kReadByte);  // or the process ends
  unsigned char address[2];
  put_address(offset, address);
  if (chip.write(address, 2) < 0) printf("i2c_read_byte(), write error\n");
  unsigned char byte = 0;
  if (chip.read(&byte, 1) < 0) {
    printf("read error");
    byte = 0;
  }
  *value = byte;
  return 0;
}

int i2c_write_byte(unsigned offset, unsigned char value) {
  ChipHold chip;
  if (offset >= kEepromSize) return -1;
  chip.reach(kWriteByte);  // or the process ends
  unsigned char transfer[3];
  put_address(offset, transfer);
  transfer[2] = value;
  if (chip.write(transfer, 3) < 0) {
    printf("i2c_write_byte(), write error\n");
    unlock_and_exit();
  }
  i2c_pause(kBytePauseUs);
  return 0;
}

int i2c_clear() {
  ChipHold chip;
  printf("i2c clear\n");
  chip.reach(kClear);  // or the process ends
  for (unsigned offset = 0; offset < kEepromSize; ++offset) {
    printf(".");
    unsigned char transfer[3];
    put_address(offset, transfer);
    transfer[2] = 0xFF;
    if (chip.write(transfer, 3) < 0) {
      printf("i2c_clear(), write error\n");
      unlock_and_exit();
    }
    i2c_pause(kBytePauseUs);
  }
  printf("\n");
  printf("end\n");
  return 0;
}
