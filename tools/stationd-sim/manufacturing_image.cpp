#include "manufacturing_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "platform/root.h"
#include "storage/defaults.h"
#include "storage/eeprom_device.h"
#include "storage/eeprom_map.h"

namespace {

// Where each field of the map lies, taken from the map itself so the image cannot drift
// from what the accessors read.
struct FieldPlace {
  unsigned offset;  // of index `first`
  unsigned width;
  unsigned stride;
  int first;
};

#define EE_PLACE(F, offset, width, stride, first, count, form) \
  [[maybe_unused]] constexpr FieldPlace k_##F{offset, width, stride, first};
EEPROM_FIELDS(EE_PLACE)
#undef EE_PLACE

unsigned char* at(unsigned char* image, const FieldPlace& f, int index = 0) {
  return image + f.offset + f.stride * static_cast<unsigned>(index - f.first);
}

void put_text(unsigned char* image, const FieldPlace& f, const char* text) {
  std::memset(at(image, f), 0, f.width);
  std::memcpy(at(image, f), text, std::strlen(text));
}

void put_ipv4(unsigned char* dst, unsigned char a, unsigned char b, unsigned char c,
              unsigned char d) {
  dst[0] = a, dst[1] = b, dst[2] = c, dst[3] = d;
}

void fill_manufacturing_image(unsigned char* image) {
  std::memset(image, 0xFF, kEepromSize);
  for (int i = 0; i < 4; ++i) {
    const unsigned char mac[6] = {0x02, 0, 0, 0, 0, static_cast<unsigned char>(i + 1)};
    std::memcpy(at(image, k_eeMacAddress, i), mac, sizeof mac);
  }
  put_text(image, k_eeDefaultUserName, "admin");
  put_text(image, k_eeDefaultPassword, "");
  // Interfaces 0 and 1 come with addresses on 192.168.1.0/24 and 192.168.2.0/24, DHCP on:
  // on a PC the kernel's addresses apply.
  for (int i = 0; i < 2; ++i) {
    const auto net = static_cast<unsigned char>(i + 1);
    put_ipv4(at(image, k_eeDefaultIpAddress, i), 192, 168, net, 254);
    put_ipv4(at(image, k_eeDefaultNetmask, i), 255, 255, 255, 0);
    put_ipv4(at(image, k_eeDefaultGateway, i), 192, 168, net, 1);
    put_be16(0, at(image, k_eeDefaultIpMode, i));
    std::memset(at(image, k_eeDefaultIfBlock, i), 0, k_eeDefaultIfBlock.width);
  }
  put_ipv4(at(image, k_eeDefaultNameServer, 0), 192, 168, 1, 1);
  for (int i = 1; i < 4; ++i) put_ipv4(at(image, k_eeDefaultNameServer, i), 0, 0, 0, 0);
  put_be16(0, at(image, k_eeWarmStart));
}

bool exists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

}  // namespace

int write_manufacturing_image(const char* path) {
  static unsigned char image[kEepromSize];
  fill_manufacturing_image(image);
  char temporary[kRootedPathMax + 8];
  std::snprintf(temporary, sizeof temporary, "%s.new", path);
  const int fd = ::open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  const bool written = ::write(fd, image, sizeof image) == static_cast<ssize_t>(sizeof image);
  const int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary, path) != 0) {
    const int failure = written ? errno : saved;
    ::unlink(temporary);
    errno = failure;
    return -1;
  }
  return 0;
}

int make_fresh_unit_if_missing() {
  const RootedPath image = rooted("/dev/i2c-0");
  // The first start writes several hundred EEPROM bytes at 10 ms each; the marker lives
  // until it is over, so a start that was interrupted is simply run again.
  char marker[kRootedPathMax + 16];
  std::snprintf(marker, sizeof marker, "%s.unfinished", image.c_str());
  if (exists(image.c_str()) && !exists(marker)) return 0;

  const int fd = ::open(marker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::close(fd) != 0 || write_manufacturing_image(image.c_str()) != 0) {
    std::fprintf(stderr, "stationd-sim: %s: %s\n", image.c_str(), std::strerror(errno));
    return -1;
  }
  std::fprintf(stderr,
               "stationd-sim: new unit: factory initialisation and default export"
               " (a few seconds)\n");
  factory_initialize();
  load_default_settings();
  std::fflush(stdout);
  ::unlink(marker);
  return 1;
}
