#include "first_start.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "../eeprom_progress.h"
#include "platform/root.h"
#include "storage/defaults.h"
#include "storage/manufacturing_image.h"

namespace {

bool exists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

}  // namespace

int make_fresh_unit_if_missing() {
  const RootedPath image = rooted("/dev/i2c-0");
  // The first start writes several hundred EEPROM bytes at 10 ms each; the marker lives
  // until it is over, so a start that was interrupted is simply run again.
  const std::string marker = std::string(image.c_str()) + ".unfinished";
  if (exists(image.c_str()) && !exists(marker.c_str())) return 0;

  const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::close(fd) != 0 || write_manufacturing_image(image.c_str()) != 0) {
    std::fprintf(stderr, "stationd-sim: %s: %s\n", image.c_str(), std::strerror(errno));
    return -1;
  }
  std::fprintf(stderr,
               "stationd-sim: new unit: factory initialisation and default export"
               " (a few seconds)\n");
  {
    const EepromProgress progress("new unit", kFactoryInitializeBytes + kLoadDefaultSettingsBytes);
    factory_initialize();
    load_default_settings();
  }
  std::fflush(stdout);
  ::unlink(marker.c_str());
  return 1;
}
