#include "platform/i2c_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/byte_order.h"
#include "platform/root.h"

namespace {

// The chip behind the node: 8192 bytes at bus address 0x50. Only the low 13 bits of a
// memory address reach the array, and the address counter wraps at the end like the chip's.
constexpr unsigned kChipSize = 8192;
constexpr int kChipBusAddress = 0x50;
constexpr unsigned long kI2cSlave = 0x0703;  // i2c-dev's I2C_SLAVE request

// An image file opened in place of the node. The EEPROM routines hold one descriptor at a
// time, so a handful of slots is plenty.
struct ImageState {
  int fd;
  bool selected;     // bus address 0x50 selected
  unsigned pointer;  // the chip's address counter
};
constexpr int kImageSlots = 4;
ImageState g_images[kImageSlots] = {{-1, false, 0}, {-1, false, 0}, {-1, false, 0}, {-1, false, 0}};

ImageState* image_of(int fd) {
  for (ImageState& s : g_images)
    if (fd >= 0 && s.fd == fd) return &s;
  return nullptr;
}

int port_open(const char* path, int flags) {
  // With a root the PC plays the device; a character device there could be the PC's own
  // bus, where 0x50 is often a memory module's EEPROM. Refuse it before opening anything.
  struct stat st;
  if (has_root() && ::stat(path, &st) == 0 && S_ISCHR(st.st_mode)) {
    errno = ENODEV;
    return -1;
  }
  const int fd = ::open(path, flags);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  if (S_ISCHR(st.st_mode) && !has_root()) return fd;  // the kernel's i2c-dev
  if (S_ISREG(st.st_mode)) {
    for (ImageState& s : g_images) {
      if (s.fd < 0) {
        s = {fd, false, 0};
        return fd;
      }
    }
    ::close(fd);
    errno = EMFILE;
    return -1;
  }
  ::close(fd);
  errno = ENODEV;
  return -1;
}

int port_select_slave(int fd, int bus_address) {
  ImageState* image = image_of(fd);
  if (!image) return ::ioctl(fd, kI2cSlave, bus_address) < 0 ? -1 : 0;
  if (bus_address != kChipBusAddress) {
    errno = ENXIO;  // nobody answers at that address
    return -1;
  }
  image->selected = true;
  return 0;
}

// Moves n bytes between the image at the chip's address counter and `into` (a read) or
// from `from` (a write), wrapping at the end of the array. Returns the bytes moved, fewer at
// the end of a short image file.
ssize_t image_io(ImageState* image, unsigned char* into, const unsigned char* from, size_t n) {
  size_t done = 0;
  while (done < n) {
    size_t span = kChipSize - image->pointer;
    if (span > n - done) span = n - done;
    const ssize_t moved = into ? ::pread(image->fd, into + done, span, image->pointer)
                               : ::pwrite(image->fd, from + done, span, image->pointer);
    if (moved < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(moved);
    image->pointer = (image->pointer + static_cast<unsigned>(moved)) % kChipSize;
    if (static_cast<size_t>(moved) < span) break;
  }
  return static_cast<ssize_t>(done);
}

ssize_t port_write(int fd, const void* buf, size_t n) {
  ImageState* image = image_of(fd);
  if (!image) return ::write(fd, buf, n);
  if (!image->selected) {
    errno = ENXIO;
    return -1;
  }
  // Two address bytes, high first, set the counter; the bytes after them are stored from
  // there on. A lone byte is taken by the chip without effect.
  if (n < 2) return static_cast<ssize_t>(n);
  const unsigned char* bytes = static_cast<const unsigned char*>(buf);
  image->pointer = get_be16(bytes) % kChipSize;
  if (n == 2) return 2;
  const ssize_t stored = image_io(image, nullptr, bytes + 2, n - 2);
  return stored < 0 ? -1 : 2 + stored;
}

ssize_t port_read(int fd, void* buf, size_t n) {
  ImageState* image = image_of(fd);
  if (!image) return ::read(fd, buf, n);
  if (!image->selected) {
    errno = ENXIO;
    return -1;
  }
  return image_io(image, static_cast<unsigned char*>(buf), nullptr, n);
}

int port_close(int fd) {
  if (ImageState* image = image_of(fd)) image->fd = -1;
  return ::close(fd);
}

const I2cPort kDefaultPort = {port_open, port_select_slave, port_write, port_read, port_close};
const I2cPort* g_port = &kDefaultPort;

void sleep_pause(unsigned microseconds) { ::usleep(microseconds); }
void (*g_pause)(unsigned) = sleep_pause;

}  // namespace

const I2cPort& i2c_port() { return *g_port; }

void set_i2c_port(const I2cPort* port) { g_port = port ? port : &kDefaultPort; }

void i2c_pause(unsigned microseconds) { g_pause(microseconds); }

void set_i2c_pause(void (*pause)(unsigned microseconds)) { g_pause = pause ? pause : sleep_pause; }
