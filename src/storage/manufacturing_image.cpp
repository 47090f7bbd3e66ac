#include "storage/manufacturing_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "platform/root.h"
#include "storage/eeprom_device.h"
#include "storage/eeprom_map.h"

namespace {

// Where each field of the map lies, taken from the map itself.
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
